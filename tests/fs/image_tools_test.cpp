// Making images and filling them with the library.
#include <sys/stat.h>

#include <filesystem>

#include "emulator/image/folder_filler.h"
#include "emulator/image/receiver_image.h"
#include "emulator/image/sample_content.h"
#include "platform/text.h"
#include "tests/fs/disk_fixture.h"

namespace {

using Names = std::vector<std::string>;

class ImageToolsTest : public DiskTest {};

TEST_F(ImageToolsTest, MakeRefusesWhatTheFormatCannotHold) {
    std::string error;
    EXPECT_FALSE(image::MakeReceiverImage(image_, 64ull << 20, 16384, &error));  // below 32 KiB
    EXPECT_FALSE(
        image::MakeReceiverImage(image_, 64ull << 20, 33000, &error));  // not whole sectors
    EXPECT_FALSE(
        image::MakeReceiverImage(image_, image::MaxImageBytes(32768) + 512, 32768, &error));
    EXPECT_FALSE(image::MakeReceiverImage(image_, 100000, 32768, &error));
    EXPECT_TRUE(image::MakeReceiverImage(image_, image::MaxImageBytes(32768), 32768, &error));
}

TEST_F(ImageToolsTest, ImageIsSparseAndClustersBeyondItsEndAreUsed) {
    ASSERT_EQ(MakeAndMount(16ull << 30, 512u << 10), 0);
    struct stat status {};
    ASSERT_EQ(stat(image_.c_str(), &status), 0);
    EXPECT_EQ(static_cast<uint64_t>(status.st_size), 16ull << 30);
    EXPECT_LT(static_cast<uint64_t>(status.st_blocks) * 512, 1u << 20);
    const std::string boot = ImageBytes(0, 72);
    EXPECT_EQ(boot.substr(0, 4), "\x55\xAA\x55\xAA");
    EXPECT_EQ(boot.substr(64, 8), std::string("\x00\x02\x10\x00\x00\x01\x00\x04", 8));
    const uint32_t on_disk = static_cast<uint32_t>(((16ull << 30) / 512 - kDataStart) / 1024);
    EXPECT_EQ(TableEntry(on_disk - 1), 0);
    EXPECT_EQ(TableEntry(on_disk), 0xFFFF);
    EXPECT_EQ(TableEntry(0xFFFE), 0xFFFF);
    pcfm_file* root = pcfm_open("C:\\", "d");
    EXPECT_EQ(pcfm_free_space(root), (on_disk - 1) * 1024u);
    pcfm_close(root);
}

TEST_F(ImageToolsTest, FillFromAFolderTree) {
    ASSERT_EQ(MakeAndMount(), 0);
    const std::filesystem::path source = folder_.File("pc");
    std::filesystem::create_directories(source / "Serien" / "Staffel 1");
    WriteFileBytes((source / "Serien" / "Staffel 1" / "Folge.ts").string(),
                   std::string(100000, 's'));
    WriteFileBytes((source / "Grüße.txt").string(), "hallo");
    WriteFileBytes((source / "leer").string(), "");
    const image::FillResult result = image::FillFromFolder(source.string(), "C:\\");
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.files, 3u);
    EXPECT_EQ(result.folders, 2u);
    EXPECT_EQ(ReadFile("C:\\Serien\\Staffel 1\\Folge.ts"), std::string(100000, 's'));
    EXPECT_EQ(ReadFile("C:\\Gr\xFC\xDF"
                       "e.txt"),
              "hallo");
    EXPECT_EQ(ReadFile("C:\\leer"), "");
    EXPECT_EQ(platform::Cp1252ToUtf8("Gr\xFC\xDF"
                                     "e \x80"),
              "Grüße €");
    EXPECT_EQ(platform::Utf8ToCp1252("Grüße € ☃"),
              "Gr\xFC\xDF"
              "e \x80 _");
}

TEST_F(ImageToolsTest, SampleContent) {
    ASSERT_EQ(MakeAndMount(1ull << 30, 128u << 10), 0);
    std::string error;
    ASSERT_TRUE(image::FillSampleContent({}, &error)) << error;
    EXPECT_EQ(List("C:\\"), (Names{"Recordings", "Archive", "jukebox", "Full", "tm_shift.000"}));
    const Names recordings = List("C:\\Recordings");
    EXPECT_EQ(recordings[2], "001&&Tagesschau.TP0");
    EXPECT_EQ(recordings[5], "12&&M\xE4rchen.TP0");
    const std::string recording = ReadFile("C:\\Recordings\\Kochen.TP0");
    ASSERT_EQ(recording.size(), image::kRecordingBytes);
    EXPECT_EQ(recording.substr(image::kTitleOffset, 14), "Sch\x02\x66\x01ne Gr\x02\x54\x01");
    EXPECT_EQ(ReadFile("C:\\Archive\\2023\\Summer\\Holiday\\Day1\\Beach.TP0")
                  .substr(image::kTitleOffset, 10),
              "Am Strand" + std::string(1, '\0'));
    EXPECT_EQ(List(image::kFullFolder).size(), 512u);
    EXPECT_NE(WriteFile(std::string(image::kFullFolder) + "\\more", ""), "");
    EXPECT_EQ(Errno(), EDIRFULL);
}

TEST_F(ImageToolsTest, LargeSampleRecordingsStaySparse) {
    ASSERT_EQ(MakeAndMount(image::MaxImageBytes(512u << 10), 512u << 10), 0);
    ASSERT_EQ(MountSparse(), 0);
    std::string error;
    image::SampleOptions options;
    options.big_recording = true;
    options.huge_recording_bytes = (1ull << 35) - (5ull << 30);
    ASSERT_TRUE(image::FillSampleContent(options, &error)) << error;
    struct stat status {};
    ASSERT_EQ(stat(image_.c_str(), &status), 0);
    EXPECT_LT(static_cast<uint64_t>(status.st_blocks) * 512, 64u << 20);
    pcfm_file* huge = pcfm_open("C:\\Recordings\\Marathon.TP0", "rb");
    ASSERT_NE(huge, nullptr);
    const uint64_t tail_at = options.huge_recording_bytes - 16;
    char tail[32];
    ASSERT_EQ(pcfm_seek(huge, &tail_at, 0), 0);
    EXPECT_EQ(pcfm_read(tail, 1, sizeof tail, huge), 16u);
    pcfm_close(huge);
    pcfm_file* big = pcfm_open("C:\\Recordings\\003&&Spielfilm.TP0", "rb");
    char title[14];
    const uint64_t title_at = image::kTitleOffset;
    ASSERT_EQ(pcfm_seek(big, &title_at, 0), 0);
    ASSERT_EQ(pcfm_read(title, 1, sizeof title, big), sizeof title);
    EXPECT_EQ(std::string(title, sizeof title), "Der lange Film");
    pcfm_close(big);
}

}  // namespace
