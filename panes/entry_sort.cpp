#include "panes/entry_sort.h"

#include "app/log.h"
#include "platform/profile_store.h"
#include "platform/text.h"

namespace {

int Sign(int compared) {
    return compared > 0 ? 1 : compared < 0 ? -1 : 0;
}

// Byte-wise and case-sensitive; char_traits<char> compares bytes as unsigned values, which for
// UTF-8 is the order of the characters.
int CompareBytes(const std::string& a, const std::string& b) {
    return Sign(a.compare(b));
}

// A three-character prefix followed by "&&" does not count when sorting by name.
std::string SortName(const std::string& name) {
    std::string copy = name;
    if (copy.find("&&") == 3) copy.erase(0, 5);
    return platform::UpperCase(copy);
}

template <typename T>
int CompareValues(T a, T b) {
    return a > b ? 1 : a < b ? -1 : 0;
}

}  // namespace

int CompareEntries(const CDirEntry* a, const CDirEntry* b, const SortState& state,
                   bool new_folder_mode) {
    if (new_folder_mode) return 0;
    if (a == nullptr) return -1;
    if (b == nullptr) return 1;
    if (!a->isFile && !b->isFile) return CompareBytes(a->name, b->name);
    if (!a->isFile) return -1;
    if (!b->isFile) return 1;
    const int s = state.order != 0 ? 1 : -1;
    int result = 0;
    switch (state.column) {
        case 0:
            result = CompareBytes(SortName(a->name), SortName(b->name));
            break;
        case 1:
            result =
                CompareBytes(platform::UpperCase(a->epgTitle), platform::UpperCase(b->epgTitle));
            break;
        case 2:
            result = CompareValues(a->size, b->size);
            break;
        case 3:
            result =
                CompareBytes(platform::UpperCase(a->extension), platform::UpperCase(b->extension));
            break;
        case 4:
            result = CompareValues(a->time, b->time);
            break;
        default:
            return 0;
    }
    return s * result;
}

SortState LoadSortState(const std::string& section) {
    platform::ProfileStore& store = platform::Profile();
    SortState state;
    // Five columns; anything else in the settings file sorts by name.
    state.column = store.GetInt(section, "SortColumn", 0);
    if (state.column < 0 || state.column > 4) state.column = 0;
    state.order = store.GetInt(section, "SortOrder " + FormatDec(state.column), 1);
    return state;
}

SortState ClickColumn(const std::string& section, const SortState& current, int column) {
    platform::ProfileStore& store = platform::Profile();
    SortState state = current;
    if (column == state.column) {
        state.order = state.order != 0 ? 0 : 1;
    } else {
        state.column = column;
        state.order = store.GetInt(section, "SortOrder " + FormatDec(column), 1);
    }
    store.WriteInt(section, "SortColumn", state.column);
    store.WriteInt(section, "SortOrder " + FormatDec(state.column), state.order);
    return state;
}
