// Handles: round trips, sector buffer, direct transfers, allocation, write-back, seek, modes.
#include <cstring>

#include "emulator/image/sample_content.h"
#include "pvrdisk/fs/pcfm_internal.h"
#include "tests/fs/disk_fixture.h"

namespace {

std::string Pattern(size_t size, int seed = 1) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 31 + seed + (i >> 9));
    return data;
}

class FilesTest : public DiskTest {
  protected:
    void SetUp() override {
        DiskTest::SetUp();
        ASSERT_EQ(MakeAndMount(), 0);
    }
    uint64_t TableSectorsWritten() const {
        uint64_t sectors = 0;
        for (const BlockWrite& write : RecordingDriver::writes)
            if (write.first_sector >= kFatStart && write.first_sector < kDataStart)
                sectors += write.sectors;
        return sectors;
    }
};

TEST_F(FilesTest, RoundTripsOfEdgeSizes) {
    for (size_t size : {0, 1, 511, 512, 513, 65536, 65537, 32768 * 3 + 100}) {
        const std::string path = "C:\\f" + std::to_string(size);
        const std::string data = Pattern(size, static_cast<int>(size));
        ASSERT_EQ(WriteFile(path, data), "") << size;
        EXPECT_EQ(ReadFile(path), data) << size;
        // The bytes lie in the file's clusters in order.
        if (size > 0) {
            pcfm_file* file = pcfm_open(path.c_str(), "rb");
            const uint32_t first = file->entry->first_cluster;
            pcfm_close(file);
            EXPECT_EQ(ImageBytes(ClusterOffset(first), std::min<size_t>(size, 32768)),
                      data.substr(0, 32768));
        }
    }
    Remount();
    EXPECT_EQ(ReadFile("C:\\f513"), Pattern(513, 513));
}

TEST_F(FilesTest, ChunkedWritesAndReadsAtOddOffsets) {
    const std::string data = Pattern(200000, 7);
    pcfm_file* file = pcfm_open("C:\\chunks", "w+b");
    for (size_t at = 0; at < data.size();) {
        const size_t piece = std::min<size_t>(data.size() - at, 1 + (at * 7919) % 70001);
        ASSERT_EQ(pcfm_write(data.data() + at, 1, piece, file), piece);
        at += piece;
    }
    for (uint64_t at : {0, 1, 511, 32767, 32768, 99999, 199000}) {
        ASSERT_EQ(pcfm_seek(file, &at, 0), 0);
        std::string back(1000, '\0');
        const size_t got = pcfm_read(back.data(), 1, back.size(), file);
        back.resize(got);
        EXPECT_EQ(back, data.substr(at, 1000)) << at;
    }
    pcfm_close(file);
}

TEST_F(FilesTest, ReadsAtAndNearTheEnd) {
    ASSERT_EQ(WriteFile("C:\\six", Pattern(600)), "");
    pcfm_file* file = pcfm_open("C:\\six", "rb");
    char buffer[1000];
    EXPECT_EQ(pcfm_read(buffer, 1, 1000, file), 600u);
    EXPECT_TRUE(pcfm_error(file) & ENOENTRY);
    EXPECT_EQ(pcfm_read(buffer, 1, 1000, file), 0u);
    const uint64_t start = 0;
    pcfm_seek(file, &start, 0);
    EXPECT_EQ(pcfm_read(buffer, 188, 5, file), 3u);  // 600 bytes hold three items of 188
    pcfm_close(file);
    ASSERT_EQ(WriteFile("C:\\thousand", Pattern(1000)), "");
    file = pcfm_open("C:\\thousand", "rb");
    EXPECT_EQ(pcfm_read(buffer, 188, 10, file), 5u);
    EXPECT_EQ(pcfm_read(buffer, 0, 10, file), 0u);  // an item size of 0 reads nothing
    EXPECT_EQ(pcfm_read(buffer, SIZE_MAX, 2, file), 0u);
    EXPECT_EQ(Errno(), EBADARG);
    pcfm_close(file);
}

TEST_F(FilesTest, WriteAtSectorBoundaryGoesThroughTheBufferAndLeavesItClean) {
    ASSERT_EQ(WriteFile("C:\\b", Pattern(1024)), "");
    pcfm_file* file = pcfm_open("C:\\b", "+b");
    const uint64_t at = 510;
    pcfm_seek(file, &at, 0);
    RecordingDriver::writes.clear();
    ASSERT_EQ(pcfm_write("XYZ", 1, 3, file), 3u);
    // Both sectors are on the disk when the call returns, each written once.
    ASSERT_EQ(RecordingDriver::writes.size(), 2u);
    EXPECT_EQ(RecordingDriver::writes[0].sectors, 1u);
    EXPECT_EQ(file->buffer_state & kBufferChanged, 0);
    pcfm_file* probe = pcfm_open("C:\\b", "rb");
    const uint32_t first = probe->entry->first_cluster;
    pcfm_close(probe);
    std::string expected = Pattern(1024);
    expected.replace(510, 3, "XYZ");
    EXPECT_EQ(ImageBytes(ClusterOffset(first), 1024), expected);
    pcfm_close(file);
    EXPECT_EQ(ReadFile("C:\\b"), expected);
}

TEST_F(FilesTest, WholeSectorsBypassTheBufferAndDoNotLeaveItStale) {
    ASSERT_EQ(WriteFile("C:\\s", Pattern(4096)), "");
    pcfm_file* file = pcfm_open("C:\\s", "+b");
    char head[10];
    ASSERT_EQ(pcfm_read(head, 1, 10, file), 10u);  // sector 0 now in the buffer
    const uint64_t start = 0;
    pcfm_seek(file, &start, 0);
    const std::string fresh = Pattern(2048, 99);
    RecordingDriver::writes.clear();
    ASSERT_EQ(pcfm_write(fresh.data(), 1, fresh.size(), file), fresh.size());
    ASSERT_EQ(RecordingDriver::writes.size(), 1u);  // one direct transfer of four sectors
    EXPECT_EQ(RecordingDriver::writes[0].sectors, 4u);
    pcfm_seek(file, &start, 0);
    ASSERT_EQ(pcfm_read(head, 1, 10, file), 10u);
    EXPECT_EQ(std::string(head, 10), fresh.substr(0, 10));
    pcfm_close(file);
}

TEST_F(FilesTest, AllocationTakesTheLowestFreeAndGrowsUpward) {
    ASSERT_EQ(WriteFile("C:\\one", "1"), "");
    ASSERT_EQ(WriteFile("C:\\two", "2"), "");
    EXPECT_EQ(TableEntry(1), 0xFFFF);
    EXPECT_EQ(TableEntry(2), 0xFFFF);
    pcfm_file* one = pcfm_open("C:\\one", "ab");
    const std::string more = Pattern(40000);
    ASSERT_EQ(pcfm_write(more.data(), 1, more.size(), one), more.size());
    pcfm_close(one);
    EXPECT_EQ(TableEntry(1), 3);  // jumps over the other file's cluster
    EXPECT_EQ(TableEntry(3), 0xFFFF);
    ASSERT_EQ(pcfm_remove("C:\\two"), 0);
    ASSERT_EQ(WriteFile("C:\\three", "3"), "");  // the freed cluster is the lowest again
    EXPECT_EQ(TableEntry(2), 0xFFFF);
    EXPECT_EQ(ReadFile("C:\\one"), "1" + more);
}

TEST_F(FilesTest, ChainEndingAtTheLastClusterCannotGrow) {
    ASSERT_EQ(MakeAndMount(DiskTest::kDataStart * 512ull + 65535ull * 32768, 32768), 0);
    pcfm_file* file = pcfm_open("C:\\last", "wb");
    ASSERT_EQ(pcfm_write("x", 1, 1, file), 1u);
    // Move the file's one cluster to 0xFFFE, leaving everything below free.
    pcfm_volume* volume = file->volume;
    volume->table[1] = 0;
    volume->table[0xFFFE] = 0xFFFF;
    file->entry->first_cluster = file->entry->last_cluster = 0xFFFE;
    file->cluster = 0xFFFE;
    file->dirty_low = 0;
    const std::string cluster = Pattern(32768);
    const uint64_t end = 0;
    pcfm_seek(file, &end, 2);
    EXPECT_EQ(pcfm_write(cluster.data(), 1, cluster.size(), file), 32767u);  // fills its cluster
    EXPECT_EQ(Errno(), EDISKFULL);
    EXPECT_EQ(pcfm_close(file), 0);
}

TEST_F(FilesTest, CloseWritesBackOnlyTheTableRangeOfTheChain) {
    // "small" in cluster 1, "big" in 2 to 301: the next file starts at 302, in table sector 1.
    ASSERT_EQ(WriteFile("C:\\small", "s"), "");
    const std::string block = Pattern(32768);
    pcfm_file* big = pcfm_open("C:\\big", "wb");
    for (int i = 0; i < 300; ++i) pcfm_write(block.data(), 1, block.size(), big);
    pcfm_close(big);
    RecordingDriver::writes.clear();
    pcfm_file* file = pcfm_open("C:\\late", "wb");
    pcfm_write(block.data(), 1, 1000, file);
    const size_t before_close = RecordingDriver::writes.size();
    pcfm_close(file);
    ASSERT_EQ(RecordingDriver::writes.size(), before_close + 2);  // table range, then the entry
    EXPECT_EQ(RecordingDriver::writes[before_close].first_sector, kFatStart + 1);
    EXPECT_EQ(RecordingDriver::writes[before_close].sectors, 1u);
    EXPECT_EQ(RecordingDriver::writes[before_close + 1].first_sector, kDataStart);  // root sector 0
    EXPECT_EQ(TableSectorsWritten(), 1u);
    // Freeing a chain whose last cluster is below 256 rewrites the whole table.
    RecordingDriver::writes.clear();
    ASSERT_EQ(pcfm_remove("C:\\small"), 0);
    EXPECT_EQ(TableSectorsWritten(), 256u);
}

TEST_F(FilesTest, TruncationWriteBackCoversTheFreedRange) {
    // A file in clusters 1..300 is rewritten small: its new cluster is 1 again, but the freed
    // range up to cluster 300 must reach the disk as free.
    const std::string block = Pattern(32768);
    pcfm_file* file = pcfm_open("C:\\shrink", "wb");
    for (int i = 0; i < 300; ++i) pcfm_write(block.data(), 1, block.size(), file);
    pcfm_close(file);
    ASSERT_EQ(WriteFile("C:\\shrink", "now small"), "");
    EXPECT_EQ(TableEntry(300), 0);
    EXPECT_EQ(TableEntry(1), 0xFFFF);
}

TEST_F(FilesTest, ModesOnExistingAndMissingFiles) {
    ASSERT_EQ(WriteFile("C:\\f", "content"), "");
    ASSERT_EQ(WriteFile("C:\\f", "new"), "");  // "w" empties
    EXPECT_EQ(ReadFile("C:\\f"), "new");
    pcfm_file* file = pcfm_open("C:\\made", "a");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->entry->attributes, kAttrArchive);
    pcfm_close(file);
    EXPECT_EQ(pcfm_open("C:\\missing", "r"), nullptr);
    EXPECT_EQ(Errno(), ENOTFOUND);
    EXPECT_EQ(pcfm_open("C:\\nofolder\\x", "r"), nullptr);
    EXPECT_EQ(Errno(), ENOPATH);
    EXPECT_EQ(pcfm_open("C:\\f\\x", "r"), nullptr);
    EXPECT_EQ(Errno(), ENOTADIR);
    EXPECT_EQ(pcfm_open("C:\\f", "rq"), nullptr);
    EXPECT_EQ(Errno(), EBADARG);
    EXPECT_EQ(pcfm_open("C:\\never", "w~"), nullptr);
    EXPECT_EQ(Errno(), ENOTFOUND);
}

TEST_F(FilesTest, KindsAndReadOnly) {
    ASSERT_EQ(pcfm_mkdir("C:\\dir"), 0);
    ASSERT_EQ(WriteFile("C:\\ro", "r"), "");
    pcfm_file* file = pcfm_open("C:\\ro", "+b");
    file->entry->attributes |= kAttrReadOnly;
    pcfm_close(file);
    EXPECT_EQ(pcfm_open("C:\\ro", "w"), nullptr);
    EXPECT_EQ(Errno(), EREADONLY);
    EXPECT_EQ(ReadFile("C:\\ro"), "r");
    EXPECT_EQ(pcfm_open("C:\\dir", "r"), nullptr);
    EXPECT_EQ(Errno(), EWRONGKIND);
    EXPECT_EQ(pcfm_open("C:\\ro", "d"), nullptr);
    EXPECT_EQ(Errno(), EWRONGKIND);
    pcfm_file* reader = pcfm_open("C:\\ro", "r");
    EXPECT_EQ(pcfm_write("x", 1, 1, reader), 0u);
    EXPECT_EQ(Errno(), EWRONGKIND);
    pcfm_close(reader);
    pcfm_file* writer = pcfm_open("C:\\w", "w");
    char byte;
    EXPECT_EQ(pcfm_read(&byte, 1, 1, writer), 0u);
    EXPECT_EQ(Errno(), EWRONGKIND);
    pcfm_close(writer);
}

TEST_F(FilesTest, TenSlots) {
    pcfm_file* handles[10];
    for (pcfm_file*& handle : handles) ASSERT_NE(handle = pcfm_open("C:\\", "d"), nullptr);
    EXPECT_EQ(pcfm_open("C:\\", "d"), nullptr);
    EXPECT_EQ(Errno(), ETOOMANYOPEN);
    EXPECT_EQ(pcfm_close(handles[3]), 0);
    EXPECT_EQ(pcfm_close(handles[3]), -1);
    EXPECT_EQ(Errno(), EBADHANDLE);
    pcfm_file* again = pcfm_open("C:\\", "d");
    EXPECT_EQ(again->slot, 3);  // the lowest empty slot
    for (int i = 0; i < 10; ++i) pcfm_close(i == 3 ? again : handles[i]);
    EXPECT_EQ(pcfm_close(nullptr), -1);
    uint64_t position;
    EXPECT_EQ(pcfm_tell(nullptr, &position), EBADHANDLE);
    EXPECT_EQ(pcfm_set_time(nullptr, 0, 0), EBADHANDLE);
}

TEST_F(FilesTest, SeekRules) {
    ASSERT_EQ(WriteFile("C:\\f", Pattern(1000)), "");
    pcfm_file* file = pcfm_open("C:\\f", "rb");
    uint64_t offset = 1000;
    uint64_t position = 0;
    EXPECT_EQ(pcfm_seek(file, &offset, 0), 0);
    offset = 1001;
    EXPECT_EQ(pcfm_seek(file, &offset, 0), ESEEKRANGE);
    EXPECT_EQ(Errno(), ESEEKRANGE);
    offset = 12345678;
    EXPECT_EQ(pcfm_seek(file, &offset, 2), 0);
    pcfm_tell(file, &position);
    EXPECT_EQ(position, 1000u);
    offset = 0xFFFFFF9Cu;  // -100
    EXPECT_EQ(pcfm_seek(file, &offset, 1), 0);
    pcfm_tell(file, &position);
    EXPECT_EQ(position, 900u);
    offset = 1ull << 32;
    EXPECT_EQ(pcfm_seek(file, &offset, 1), ESEEKRANGE);
    offset = 0xFFFFFC00u;  // -1024: before the start
    EXPECT_EQ(pcfm_seek(file, &offset, 1), ESEEKRANGE);
    EXPECT_EQ(pcfm_seek(file, &offset, 3), EBADARG);
    char byte;
    offset = 999;
    pcfm_seek(file, &offset, 0);
    ASSERT_EQ(pcfm_read(&byte, 1, 1, file), 1u);
    EXPECT_EQ(byte, Pattern(1000)[999]);
    pcfm_close(file);
}

TEST_F(FilesTest, TooLargeWritesNothing) {
    pcfm_file* file = pcfm_open("C:\\huge", "w+b");
    ASSERT_EQ(pcfm_write("a", 1, 1, file), 1u);
    file->entry->size = (1ull << 35) - 2;  // as if written up to just below the limit
    const uint64_t end = 0;
    pcfm_seek(file, &end, 2);
    RecordingDriver::writes.clear();
    EXPECT_EQ(pcfm_write("abc", 1, 3, file), 0u);
    EXPECT_EQ(Errno(), ETOOLARGE);
    EXPECT_TRUE(RecordingDriver::writes.empty());
    file->entry->size = 1;
    pcfm_close(file);
}

TEST_F(FilesTest, SetTimeReachesTheDiskOnClose) {
    ASSERT_EQ(WriteFile("C:\\t", "t"), "");
    pcfm_file* file = pcfm_open("C:\\t", "+b");
    ASSERT_EQ(pcfm_set_time(file, 13 << 11 | 45 << 5 | 10, (2020 - 1980) << 9 | 7 << 5 | 21), 0);
    pcfm_close(file);
    Remount();
    pcfm_file* root = pcfm_open("C:\\", "d");
    pcfm_dirent entry{};
    ASSERT_EQ(pcfm_readdir(root, &entry), 0);
    EXPECT_EQ(entry.year, 2020);
    EXPECT_EQ(entry.month, 7);
    EXPECT_EQ(entry.day, 21);
    EXPECT_EQ(entry.hour, 13);
    EXPECT_EQ(entry.minute, 45);
    EXPECT_EQ(entry.second, 20);
    pcfm_close(root);
}

TEST_F(FilesTest, FailedTransfersReportTheDevice) {
    const std::string data = Pattern(70000);
    ASSERT_EQ(WriteFile("C:\\f", data), "");
    RecordingDriver::fail_read_first = kDataStart;
    RecordingDriver::fail_read_count = 0xFFFFFF;
    pcfm_file* file = pcfm_open("C:\\f", "rb");
    char buffer[70000];
    EXPECT_EQ(pcfm_read(buffer, 1, sizeof buffer, file), 0u);
    EXPECT_EQ(Errno(), EDEVICE);
    pcfm_close(file);
    RecordingDriver::fail_read_count = 0;
    RecordingDriver::fail_write_from = kDataStart + 64;
    file = pcfm_open("C:\\f", "+b");
    EXPECT_EQ(pcfm_write(data.data(), 1, data.size(), file), 0u);
    EXPECT_EQ(Errno(), EDEVICE);
    RecordingDriver::fail_write_from = 0;
    pcfm_close(file);
}

TEST_F(FilesTest, FlushPutsTheFileOnTheDiskAndKeepsTheHandle) {
    const std::string data = Pattern(100000);
    pcfm_file* file = pcfm_open("C:\\f", "wb");
    ASSERT_EQ(pcfm_write(data.data(), 1, data.size(), file), data.size());
    // A failed flush leaves the handle open for another try.
    RecordingDriver::fail_write_from = kFatStart;
    EXPECT_EQ(pcfm_flush(file), -1);
    EXPECT_EQ(Errno(), EDEVICE);
    RecordingDriver::fail_write_from = 0;
    RecordingDriver::writes.clear();
    ASSERT_EQ(pcfm_flush(file), 0);
    ASSERT_EQ(RecordingDriver::writes.size(), 2u);  // table range, then the entry
    EXPECT_EQ(RecordingDriver::writes[1].first_sector, kDataStart);
    // The handle is never closed: the disk holds the whole file all the same.
    Remount();
    EXPECT_EQ(ReadFile("C:\\f"), data);
    pcfm_file* reading = pcfm_open("C:\\f", "rb");
    EXPECT_EQ(pcfm_flush(reading), -1);
    EXPECT_EQ(Errno(), EWRONGKIND);
    EXPECT_EQ(pcfm_close(reading), 0);
}

class LargeFilesTest : public DiskTest {};

TEST_F(LargeFilesTest, PositionsBeyondFourGibibytes) {
    ASSERT_EQ(MakeAndMount(8ull << 30, 128u << 10), 0);
    ASSERT_EQ(MountSparse(), 0);
    std::string error;
    const uint64_t size = (5ull << 30) + 12345;
    ASSERT_TRUE(image::WriteLargeRecording("C:\\big.TP0", "Big", size, &error)) << error;
    pcfm_file* file = pcfm_open("C:\\big.TP0", "+b");
    const std::string data = Pattern(70000, 5);
    for (uint64_t at : {uint64_t{4ull << 30} - 1000, uint64_t{4ull << 30} + 511, size - 70000}) {
        ASSERT_EQ(pcfm_seek(file, &at, 0), 0);
        ASSERT_EQ(pcfm_write(data.data(), 1, data.size(), file), data.size());
    }
    uint64_t at = (4ull << 30) + 511;
    std::string back(70000, '\0');
    ASSERT_EQ(pcfm_seek(file, &at, 0), 0);
    ASSERT_EQ(pcfm_read(back.data(), 1, back.size(), file), back.size());
    EXPECT_EQ(back, data);
    // The bytes sit where the contiguous chain puts them in the image.
    const uint64_t image_offset = ClusterOffset(file->entry->first_cluster) + at;
    EXPECT_EQ(ImageBytes(image_offset, 100), data.substr(0, 100));
    uint64_t length = 0;
    const uint64_t zero = 0;
    pcfm_seek(file, &zero, 2);
    pcfm_tell(file, &length);
    EXPECT_EQ(length, size);
    pcfm_close(file);
}

}  // namespace
