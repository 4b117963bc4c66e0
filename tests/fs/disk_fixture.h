// A fresh receiver disk image in a temporary folder, mounted through a block device that
// records its writes and can fail chosen reads. Every test that used it ends with the
// consistency check of the image, which must find it clean unless the test damaged it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pvrdisk/fs/consistency_check.h"
#include "pvrdisk/pcfm.h"
#include "tests/support/temp_folder.h"

struct BlockWrite {
    uint32_t first_sector;
    uint32_t sectors;
};

// Wraps the direct image table: records every write and fails reads of chosen sectors.
struct RecordingDriver {
    static const pcfm_blkdrv table;
    static std::vector<BlockWrite> writes;
    static uint32_t fail_read_first;  // reads touching [first, first + count) fail
    static uint32_t fail_read_count;
    static uint32_t fail_write_from;  // writes at or above this sector fail; 0 = none
};

class DiskTest : public ::testing::Test {
  protected:
    static constexpr uint32_t kDefaultClusterBytes = 32768;
    static constexpr uint32_t kFatStart = 16;
    static constexpr uint32_t kDataStart = kFatStart + 256;

    void SetUp() override;
    void TearDown() override;

    // Makes the image (replacing the fixture's) and mounts it; the mount's result.
    int MakeAndMount(uint64_t bytes = 64ull << 20, uint32_t cluster_bytes = kDefaultClusterBytes);
    int Remount();
    // Mounts the image again through the block device that keeps it sparse (large files).
    int MountSparse();
    void Unmount();

    std::string WriteFile(const std::string& path, const std::string& data);  // "" or an error
    std::string ReadFile(const std::string& path);  // the bytes; empty when it cannot be opened
    // Names in a receiver folder as readdir lists them, "." and ".." included.
    std::vector<std::string> List(const std::string& folder);

    // Raw bytes of the image file.
    std::string ImageBytes(uint64_t offset, size_t size) const;
    void PutImageBytes(uint64_t offset, const std::string& bytes) const;
    uint64_t ClusterOffset(uint32_t cluster) const {
        return (kDataStart + uint64_t{cluster} * sectors_per_cluster_) * 512;
    }
    uint16_t TableEntry(uint32_t cluster) const;
    void SetTableEntry(uint32_t cluster, uint16_t value) const;
    // The image offset of entry `index` of the directory at `cluster`.
    uint64_t EntryOffset(uint32_t directory_cluster, uint32_t index) const {
        return ClusterOffset(directory_cluster) + index * 64ull;
    }

    CheckReport Check() const;
    void ExpectClean() const;
    // A test that damages the image on purpose says so; TearDown then skips the check.
    void ExpectDamage() { damaged_ = true; }

    TempFolder folder_;
    std::string image_;
    uint32_t sectors_per_cluster_ = kDefaultClusterBytes / 512;
    bool mounted_ = false;
    bool sparse_ = false;
    bool damaged_ = false;
};

// The pcfm_errno of the last call, for EXPECT_EQ.
inline int Errno() {
    return pcfm_errno;
}
