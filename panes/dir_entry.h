// The record of one file or folder, and the growable list of them that the panes, the
// managers and the main dialog pass around.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct CDirEntry {
    std::string fullPath;
    std::string folderPath;
    std::string title;      // the name without its extension
    std::string extension;  // upper case, without the dot; empty when there is none
    std::string name;       // as listed, extension included
    std::string epgTitle;   // programme title of a recording; empty otherwise
    uint64_t size = 0;      // bytes; 0 for a folder
    int64_t time = 0;       // seconds since 1970, from local calendar fields
    int32_t isFile = 0;     // 0 folder, 1 file
    // Where a transfer copies the file: planned once for the whole transfer, empty before.
    std::string targetPath;
    // The plan writes the file in parts below 4 GiB (targetPath is then its first part).
    bool targetSplit = false;
};

// An ordered array of records, copied in by value and appended at the end. Grows by one
// eighth of its size, at least 4 and at most 1024 elements at a time, so that large folders
// do not copy their records over and over.
class CDirList {
  public:
    size_t GetSize() const { return entries_.size(); }
    bool IsEmpty() const { return entries_.empty(); }
    CDirEntry& operator[](size_t index) { return entries_[index]; }
    const CDirEntry& operator[](size_t index) const { return entries_[index]; }

    void Add(const CDirEntry& entry);
    void Append(const CDirList& other);
    void RemoveAt(size_t index);
    void RemoveAll();
    // The capacity the growth rule has given the list so far.
    size_t Capacity() const { return entries_.capacity(); }

    auto begin() { return entries_.begin(); }
    auto end() { return entries_.end(); }
    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }

  private:
    std::vector<CDirEntry> entries_;
};

// Removes the first record whose fullPath equals the entry's (exact comparison); whether one
// was removed.
bool RemoveByPath(CDirList& list, const CDirEntry& entry);
