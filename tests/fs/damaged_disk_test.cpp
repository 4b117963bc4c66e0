// Hand-damaged images: the checker names each kind of damage, and the library neither hangs
// nor writes outside the file system on them.
#include <cstring>

#include "pvrdisk/fs/pcfm_internal.h"
#include "tests/fs/disk_fixture.h"

namespace {

std::string Le32(uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
    return bytes;
}

class DamagedDiskTest : public DiskTest {
  protected:
    // Root: "a" (3 clusters: 1, 2, 3), "b" (cluster 4), folder "D" (cluster 5) with "c" (6).
    void SetUp() override {
        DiskTest::SetUp();
        ASSERT_EQ(MakeAndMount(), 0);
        ASSERT_EQ(WriteFile("C:\\a", std::string(70000, 'a')), "");
        ASSERT_EQ(WriteFile("C:\\b", "b"), "");
        ASSERT_EQ(pcfm_mkdir("C:\\D"), 0);
        ASSERT_EQ(WriteFile("C:\\D\\c", "c"), "");
        Unmount();
        ExpectClean();
        ExpectDamage();
    }
    void SetEntryField(uint32_t directory, uint32_t index, uint32_t offset,
                       const std::string& bytes) {
        PutImageBytes(EntryOffset(directory, index) + offset, bytes);
    }
    // Every write stays inside the table, the root cluster and the data clusters written.
    void ExpectWritesInside(uint32_t last_sector) {
        for (const BlockWrite& write : RecordingDriver::writes) {
            EXPECT_GE(write.first_sector, kFatStart);
            EXPECT_LE(write.first_sector + write.sectors, last_sector);
            EXPECT_FALSE(write.first_sector < kDataStart &&
                         write.first_sector + write.sectors > kDataStart)
                << "a table write ran into the data area";
        }
    }
};

TEST_F(DamagedDiskTest, ChainCycle) {
    SetTableEntry(3, 2);
    const CheckReport report = Check();
    EXPECT_TRUE(report.Has(Damage::kChainCycle));
    ASSERT_EQ(Remount(), 0);
    // Reading the 70 000 bytes walks the cycle only as far as the size asks.
    EXPECT_EQ(ReadFile("C:\\a").size(), 70000u);
    pcfm_file* file = pcfm_open("C:\\a", "rb");
    file->entry->size = 1ull << 34;  // a size far beyond the chain
    const uint64_t far = (1ull << 34) - 10;
    pcfm_seek(file, &far, 0);
    char byte;
    EXPECT_EQ(pcfm_read(&byte, 1, 1, file), 0u);
    EXPECT_EQ(Errno(), EBADCHAIN);
    pcfm_close(file);
    ASSERT_EQ(pcfm_remove("C:\\a"), 0);  // freeing ends where the cycle meets a freed cluster
    Unmount();
    EXPECT_EQ(TableEntry(2), 0);
    EXPECT_EQ(TableEntry(3), 0);
}

TEST_F(DamagedDiskTest, ChainIntoFreeOrOutOfRangeClusters) {
    SetTableEntry(2, 0);
    EXPECT_TRUE(Check().Has(Damage::kChainRange));
    ASSERT_EQ(Remount(), 0);
    pcfm_file* file = pcfm_open("C:\\a", "rb");
    char buffer[70000];
    // Cluster 2 is marked free: its bytes may be another file's by now.
    EXPECT_EQ(pcfm_read(buffer, 1, sizeof buffer, file), 32768u);
    EXPECT_EQ(Errno(), EBADCHAIN);
    pcfm_close(file);
    Unmount();
    SetEntryField(0, 1, 48, Le32(0x12345678));  // b's first cluster beyond the table
    EXPECT_TRUE(Check().Has(Damage::kChainRange));
    ASSERT_EQ(Remount(), 0);
    file = pcfm_open("C:\\b", "+b");
    EXPECT_EQ(pcfm_read(buffer, 1, 1, file), 0u);
    EXPECT_EQ(Errno(), EBADCHAIN);
    RecordingDriver::writes.clear();
    EXPECT_EQ(pcfm_write("x", 1, 1, file), 0u);
    EXPECT_EQ(Errno(), EBADCHAIN);
    pcfm_close(file);
    ExpectWritesInside(kDataStart + 7 * sectors_per_cluster_);
}

TEST_F(DamagedDiskTest, CrossLinkedChains) {
    SetTableEntry(4, 3);  // b continues into a's last cluster
    SetEntryField(0, 1, 56, Le32(40000) + Le32(0));
    EXPECT_TRUE(Check().Has(Damage::kCrossLinked));
}

TEST_F(DamagedDiskTest, ChainLongerOrShorterThanTheSize) {
    SetEntryField(0, 0, 56, Le32(200000) + Le32(0));
    EXPECT_TRUE(Check().Has(Damage::kChainLength));
    SetEntryField(0, 0, 56, Le32(0) + Le32(0));
    EXPECT_TRUE(Check().Has(Damage::kChainLength));
}

TEST_F(DamagedDiskTest, LostClustersAndFreeClustersBeyondTheDisk) {
    SetTableEntry(100, 0xFFFF);
    EXPECT_TRUE(Check().Has(Damage::kLostClusters));
    SetTableEntry(100, 0);
    SetTableEntry(3000, 0);  // the 64 MiB image ends near cluster 2043
    EXPECT_TRUE(Check().Has(Damage::kFreeBeyondDisk));
}

TEST_F(DamagedDiskTest, EntriesWithImpossibleFields) {
    SetEntryField(0, 1, 36, std::string(1, '\xC0'));
    EXPECT_TRUE(Check().Has(Damage::kBadEntry));
    SetEntryField(0, 1, 36, std::string(1, '\x20'));
    SetEntryField(0, 1, 38, std::string("\xFF\xFF", 2));  // hour 31
    EXPECT_TRUE(Check().Has(Damage::kBadEntry));
    SetEntryField(0, 1, 38, std::string(2, '\0'));
    SetEntryField(0, 1, 52, Le32(9));  // last cluster field wrong
    EXPECT_TRUE(Check().Has(Damage::kBadEntry));
}

TEST_F(DamagedDiskTest, HostileLastClusterKeepsWriteBackInTheTable) {
    SetEntryField(0, 1, 52, Le32(0xFFFFFFF0));
    ASSERT_EQ(Remount(), 0);
    pcfm_file* file = pcfm_open("C:\\b", "ab");
    ASSERT_EQ(pcfm_write("more", 1, 4, file), 4u);
    RecordingDriver::writes.clear();
    EXPECT_EQ(pcfm_close(file), 0);
    ExpectWritesInside(kDataStart + 7 * sectors_per_cluster_);
    ASSERT_FALSE(RecordingDriver::writes.empty());
    EXPECT_EQ(RecordingDriver::writes[0].first_sector, kFatStart);
    EXPECT_EQ(RecordingDriver::writes[0].sectors, 256u);
    EXPECT_EQ(ReadFile("C:\\b"), "bmore");
}

TEST_F(DamagedDiskTest, DotEntriesAndDirectoryLoops) {
    SetEntryField(5, 0, 0, "x");
    EXPECT_TRUE(Check().Has(Damage::kDotEntries));
    SetEntryField(5, 0, 0, ".");
    // D's "c" becomes a directory naming D itself.
    SetEntryField(5, 2, 36, std::string(1, '\x10'));
    SetEntryField(5, 2, 48, Le32(5) + Le32(5) + Le32(0) + Le32(0));
    const CheckReport report = Check();
    EXPECT_TRUE(report.Has(Damage::kDirectoryLoop));
    ASSERT_EQ(Remount(), 0);
    EXPECT_EQ(List("C:\\D\\c\\c\\c\\c").size(), 3u);  // paths are bounded, the loop is harmless
    EXPECT_EQ(pcfm_rename("C:\\D", "C:\\D\\c\\D"), -1);
    EXPECT_EQ(Errno(), EBADNAME);
}

TEST_F(DamagedDiskTest, DirectoryWithAnImpossibleCluster) {
    SetEntryField(0, 2, 48, Le32(0x10000));
    EXPECT_TRUE(Check().Has(Damage::kChainRange));
    ASSERT_EQ(Remount(), 0);
    EXPECT_EQ(pcfm_open("C:\\D\\c", "r"), nullptr);
    EXPECT_EQ(Errno(), ENOTFOUND);
    pcfm_file* folder = pcfm_open("C:\\D", "d");
    pcfm_dirent entry{};
    EXPECT_EQ(pcfm_readdir(folder, &entry), -1);
    EXPECT_EQ(Errno(), ENOTFOUND);
    pcfm_close(folder);
    EXPECT_EQ(pcfm_mkdir("C:\\D\\new"), -1);
}

TEST_F(DamagedDiskTest, DirectoryWithoutEndMarkerIsScannedOnce) {
    // Every slot of D live: names e000 ... with no end marker.
    for (uint32_t i = 3; i < 512; ++i) {
        std::string entry(64, '\0');
        std::snprintf(entry.data(), 32, "e%03u", i);
        PutImageBytes(EntryOffset(5, i), entry);
    }
    ASSERT_EQ(Remount(), 0);
    EXPECT_EQ(List("C:\\D").size(), 512u);
    EXPECT_EQ(pcfm_open("C:\\D\\nothing", "r"), nullptr);
    EXPECT_EQ(Errno(), ENOTFOUND);
    EXPECT_EQ(pcfm_open("C:\\D\\nothing", "w"), nullptr);
    EXPECT_EQ(Errno(), EDIRFULL);
    EXPECT_EQ(pcfm_rmdir("C:\\D"), -1);
    EXPECT_EQ(Errno(), EDIRNOTEMPTY);
}

TEST_F(DamagedDiskTest, BootSectorDamage) {
    PutImageBytes(70, std::string("\x10\x00", 2));
    EXPECT_TRUE(Check().Has(Damage::kBootSector));
    EXPECT_EQ(Remount(), EBADBPB);
}

}  // namespace
