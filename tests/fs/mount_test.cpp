// Mounting: boot parameters, buffers, devices, space queries.
#include "tests/fs/disk_fixture.h"

namespace {

void Store16(std::string& sector, size_t at, uint16_t value) {
    sector[at] = static_cast<char>(value & 0xFF);
    sector[at + 1] = static_cast<char>(value >> 8);
}

class MountTest : public DiskTest {
  protected:
    // Rewrites one boot parameter of a fresh image and mounts again.
    int MountWithBootValue(size_t offset, uint16_t value) {
        EXPECT_EQ(MakeAndMount(), 0);
        Unmount();
        std::string boot = ImageBytes(0, 512);
        Store16(boot, offset, value);
        PutImageBytes(0, boot);
        return Remount();
    }
};

TEST_F(MountTest, FreshImageMountsWithAnEmptyRoot) {
    ASSERT_EQ(MakeAndMount(), 0);
    EXPECT_TRUE(List("C:\\").empty());
    pcfm_file* root = pcfm_open("c:\\", "d");
    ASSERT_NE(root, nullptr);
    const uint64_t data_clusters = ((64ull << 20) / 512 - kDataStart) / 64 - 1;
    EXPECT_EQ(pcfm_free_space(root), data_clusters * 64);
    pcfm_close(root);
}

TEST_F(MountTest, MissingSignatureIsOnlyLogged) {
    ASSERT_EQ(MountWithBootValue(0, 0), 0);
    EXPECT_EQ(WriteFile("C:\\a", "x"), "");
    ExpectDamage();  // the checker reports the missing signature
    EXPECT_TRUE(Check().Has(Damage::kBootSector));
}

TEST_F(MountTest, InvalidParametersAreRefused) {
    EXPECT_EQ(MountWithBootValue(66, 9), EBADBPB);    // table below sector 10
    EXPECT_EQ(MountWithBootValue(68, 255), EBADBPB);  // table not 256 sectors
    EXPECT_EQ(MountWithBootValue(64, 0), EBADBPB);
    EXPECT_EQ(MountWithBootValue(70, 0), EBADBPB);
    EXPECT_EQ(MountWithBootValue(64, 1024), EBADBPB);  // the transport moves 512-byte sectors
    EXPECT_EQ(MountWithBootValue(70, 32), EBADBPB);    // 16 KiB clusters cannot hold a directory
    EXPECT_EQ(pcfm_open("C:\\", "d"), nullptr);
    EXPECT_EQ(Errno(), EDEVICE);
    ExpectDamage();
}

TEST_F(MountTest, ReadFailuresWhileMountingPassUp) {
    ASSERT_EQ(MakeAndMount(), 0);
    RecordingDriver::fail_read_first = kFatStart + 200;
    RecordingDriver::fail_read_count = 1;
    EXPECT_EQ(Remount(), EDEVICE);
    EXPECT_EQ(pcfm_open("C:\\", "d"), nullptr);
    EXPECT_EQ(Errno(), EDEVICE);
    RecordingDriver::fail_read_first = kDataStart;
    EXPECT_EQ(Remount(), EDEVICE);
    RecordingDriver::fail_read_count = 0;
    EXPECT_EQ(Remount(), 0);
}

TEST_F(MountTest, MountReadsBootTableAndRootOnly) {
    ASSERT_EQ(MakeAndMount(), 0);
    EXPECT_TRUE(RecordingDriver::writes.empty());
}

TEST_F(MountTest, ReleaseUnmountsAndDiscardsHandles) {
    ASSERT_EQ(MakeAndMount(), 0);
    pcfm_file* file = pcfm_open("C:\\kept", "wb");
    ASSERT_NE(file, nullptr);
    pcfm_release();
    EXPECT_EQ(pcfm_open("C:\\", "d"), nullptr);
    EXPECT_EQ(Errno(), EDEVICE);
    EXPECT_EQ(pcfm_close(file), -1);  // a stale handle is refused, not read
    EXPECT_EQ(Errno(), EBADHANDLE);
    EXPECT_EQ(OV_FILE_init(), 0);
    EXPECT_EQ(List("C:\\"),
              std::vector<std::string>{"kept"});  // the entry went to disk on creation
}

TEST_F(MountTest, DevicesAndPaths) {
    ASSERT_EQ(MakeAndMount(), 0);
    EXPECT_EQ(pcfm_open("D:\\", "d"), nullptr);
    EXPECT_EQ(Errno(), EDEVICE);  // "D" exists but is never mounted
    EXPECT_EQ(pcfm_open("E:\\", "d"), nullptr);
    EXPECT_EQ(Errno(), ENOPATH);
    EXPECT_EQ(pcfm_open("no device", "d"), nullptr);
    EXPECT_EQ(Errno(), ENOPATH);
    EXPECT_EQ(pcfm_open(nullptr, "r"), nullptr);
    EXPECT_EQ(Errno(), ENOPATH);
    EXPECT_EQ(pcfm_open(("C:\\" + std::string(509, 'a')).c_str(), "r"), nullptr);
    EXPECT_EQ(Errno(), EBADNAME);  // longer than 511 bytes
}

TEST_F(MountTest, TotalSpaceOfFourMebibyteClusters) {
    ASSERT_EQ(MakeAndMount(1ull << 30, 4u << 20), 0);
    pcfm_file* root = pcfm_open("C:\\", "d");
    EXPECT_EQ(pcfm_total_space(root), 4096u * 65533u);
    EXPECT_EQ(pcfm_free_space(root), 254u * 8192u);  // clusters 1 to 254 lie on the disk
    pcfm_close(root);
    EXPECT_EQ(pcfm_free_space(root), 0u);
    EXPECT_EQ(Errno(), EBADHANDLE);
}

}  // namespace
