#include "tests/transfer/split_recording.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "transfer/name_helpers.h"
#include "transfer/overwrite_check.h"

std::string FatVolume(const std::string&) {
    return "vfat";
}

void SplitRecording::WritePcPart0(const std::string& path, uint64_t length) const {
    const std::string piece = length > tail_start ? tail.substr(0, TailIndex(length)) : "";
    WriteSparsePcFile(path, length, head.substr(0, std::min<uint64_t>(head.size(), length)),
                      tail_start, piece);
}

bool SplitRecording::PartsMatch(const std::string& folder) const {
    uint64_t offset = 0;
    for (int part = 0; offset < size; ++part) {
        const std::string path = folder + "Rec~" + std::to_string(part) + ".TP0";
        struct stat info {};
        if (stat(path.c_str(), &info) != 0) {
            ADD_FAILURE() << path << " is missing at offset " << offset;
            return false;
        }
        const uint64_t part_size = static_cast<uint64_t>(info.st_size);
        if (part_size == 0 || part_size > 0xFFFFFFFFull) {
            ADD_FAILURE() << path << " holds " << part_size << " bytes";
            return false;
        }
        if (offset < head.size()) {
            const size_t length =
                static_cast<size_t>(std::min<uint64_t>(head.size() - offset, part_size));
            if (ReadPcRange(path, 0, length) != head.substr(offset, length)) {
                ADD_FAILURE() << path << " differs in the recording's first MiB";
                return false;
            }
        }
        const uint64_t end = offset + part_size;
        if (end > tail_start) {
            const uint64_t from = std::max(offset, tail_start);
            const std::string expected =
                tail.substr(TailIndex(from), static_cast<size_t>(end - from));
            const std::string got = ReadPcRange(path, from - offset, expected.size());
            if (got != expected) {
                const auto first =
                    std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
                ADD_FAILURE() << path << " differs from offset "
                              << from + static_cast<uint64_t>(first.first - got.begin())
                              << " of the recording (" << got.size() << " bytes read)";
                return false;
            }
        }
        offset = end;
    }
    if (offset != size) ADD_FAILURE() << "the parts hold " << offset << " of " << size << " bytes";
    return offset == size;
}

void SplitRecordingFixture::SetUp() {
    ReceiverFixture::SetUp();
    SetFileSystemNameProvider(FatVolume);
    MakeImage(kSplitImageBytes, kSplitImageCluster);
    WriteSparseReceiverFile(kSplitSource, recording_.size, recording_.head, recording_.tail);
    Connect();
}

void SplitRecordingFixture::TearDown() {
    SetFileSystemNameProvider(nullptr);
    ReceiverFixture::TearDown();
}

bool SplitRecordingFixture::GetRecording() {
    box_.ResetLists();
    EXPECT_TRUE(box_.ReadDir("C:\\"));
    CDirList files;
    for (const CDirEntry& e : box_.listing)
        if (e.name == "Rec1.TP0") files.Add(e);
    CheckOverwriteFiles(
        box_, &files, "C:\\", Pc(""),
        [](const std::string&, void*) { return OverwriteAnswer::kYesToAll; }, nullptr);
    return box_.CopyFiles(&files, "C:\\", Pc(""));
}
