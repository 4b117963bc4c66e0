#include "panes/dir_entry.h"

#include <algorithm>

void CDirList::Add(const CDirEntry& entry) {
    if (entries_.size() == entries_.capacity()) {
        const size_t step = std::clamp<size_t>(entries_.size() / 8, 4, 1024);
        entries_.reserve(entries_.size() + step);
    }
    entries_.push_back(entry);
}

void CDirList::Append(const CDirList& other) {
    for (const CDirEntry& entry : other.entries_) Add(entry);
}

void CDirList::RemoveAt(size_t index) {
    entries_.erase(entries_.begin() + static_cast<ptrdiff_t>(index));
}

void CDirList::RemoveAll() {
    entries_.clear();
    entries_.shrink_to_fit();
}

bool RemoveByPath(CDirList& list, const CDirEntry& entry) {
    for (size_t i = 0; i < list.GetSize(); ++i) {
        if (list[i].fullPath == entry.fullPath) {
            list.RemoveAt(i);
            return true;
        }
    }
    return false;
}
