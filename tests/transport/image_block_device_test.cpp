// The direct block-device table over an image file.
#include "pvrdisk/transport/image_block_device.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/temp_folder.h"

namespace {

TEST(ImageBlockDevice, ReadsAndWritesSectorsInPlace) {
    TempFolder folder;
    const std::string image = folder.File("disk.img");
    std::string bytes(8 * 512, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i / 512 + 'a');
    WriteFileBytes(image, bytes + "tail");  // a partial sector at the end does not count
    ASSERT_TRUE(OpenBlockImage(image, false));
    EXPECT_EQ(BlockImageSectorCount(), 8u);

    std::string three(3 * 512, '\0');
    pcfm_blkreq request{};
    request.buffer = reinterpret_cast<uint8_t*>(three.data());
    request.count = 3;
    ASSERT_EQ(image_block_driver.read(2, &request), 0);
    EXPECT_EQ(three, bytes.substr(2 * 512, 3 * 512));
    EXPECT_EQ(request.count, 0);

    pcfm_blkreq single{};
    std::fill(single.sector, single.sector + 512, 'Z');
    ASSERT_EQ(image_block_driver.write(7, &single), 0);
    EXPECT_EQ(ReadFileBytes(image).substr(7 * 512, 512), std::string(512, 'Z'));

    pcfm_blkreq beyond{};
    beyond.buffer = reinterpret_cast<uint8_t*>(three.data());
    beyond.count = 2;
    EXPECT_EQ(image_block_driver.read(7, &beyond), 1);
    EXPECT_EQ(image_block_driver.write(8, &single), 1);
    CloseBlockImage();
    EXPECT_EQ(image_block_driver.read(0, &single), 1);
}

TEST(ImageBlockDevice, ReadOnlyImageRefusesWrites) {
    TempFolder folder;
    const std::string image = folder.File("disk.img");
    WriteFileBytes(image, std::string(2 * 512, 'r'));
    ASSERT_TRUE(OpenBlockImage(image, true));
    pcfm_blkreq single{};
    EXPECT_EQ(image_block_driver.read(1, &single), 0);
    EXPECT_EQ(image_block_driver.write(1, &single), 1);
    EXPECT_EQ(ReadFileBytes(image), std::string(2 * 512, 'r'));
    CloseBlockImage();
    EXPECT_FALSE(OpenBlockImage(folder.File("missing.img"), true));
}

TEST(ReceiverTime, PacksTheLocalTimeIntoTimeAndDateWords) {
    uint16_t time_word = 0, date_word = 0;
    const std::time_t before = std::time(nullptr);
    ASSERT_EQ(GetReceiverTime(&time_word, &date_word), 0);
    std::tm local{};
    localtime_r(&before, &local);
    EXPECT_EQ(date_word >> 9, local.tm_year + 1900 - 1980);
    EXPECT_EQ(date_word >> 5 & 0xF, local.tm_mon + 1);
    EXPECT_EQ(date_word & 0x1F, local.tm_mday);
    EXPECT_EQ(time_word >> 11, local.tm_hour);
    EXPECT_LE(time_word & 0x1F, 29);
}

}  // namespace
