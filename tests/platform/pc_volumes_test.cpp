// The PC's volumes as the drive chooser sees them, on this machine's real mounts.
#include "platform/pc_volumes.h"

#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include "tests/support/temp_folder.h"

TEST(PcVolumes, RootFirstAndEveryFolderOnAVolume) {
    const auto volumes = platform::ListPcVolumes();
    ASSERT_FALSE(volumes.empty());
    EXPECT_EQ(volumes.front().mount_point, "/");
    EXPECT_FALSE(volumes.front().display_name.empty());
    for (size_t i = 1; i < volumes.size(); ++i)
        EXPECT_NE(volumes[i].mount_point, volumes[0].mount_point);

    TempFolder folder;
    const std::string volume = platform::VolumeOf(folder.Path());
    EXPECT_EQ(folder.Path().rfind(volume, 0), 0u) << volume;  // a prefix of the path
    // A path that does not exist yet belongs to its nearest existing folder's volume.
    EXPECT_EQ(platform::VolumeOf(folder.File("not/yet/there")), volume);
    EXPECT_EQ(platform::VolumeOf("/"), "/");
}

TEST(PcVolumes, SpaceAsTheSystemCountsIt) {
    TempFolder folder;
    uint64_t free_bytes = 0, total_bytes = 0;
    ASSERT_TRUE(platform::PcVolumeSpace(folder.Path(), &free_bytes, &total_bytes));
    struct statvfs volume;
    ASSERT_EQ(statvfs(folder.Path().c_str(), &volume), 0);
    EXPECT_EQ(total_bytes, static_cast<uint64_t>(volume.f_blocks) * volume.f_frsize);
    EXPECT_LE(free_bytes, total_bytes);
    EXPECT_GT(total_bytes, 0u);
}
