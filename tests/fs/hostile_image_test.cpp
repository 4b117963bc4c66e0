// Making images at the user's request, and the hostile image with every case of damage and
// awkward names the tools must survive.
#include "emulator/image/hostile_image.h"

#include <unistd.h>

#include "emulator/image/image_creation.h"
#include "emulator/image/receiver_image.h"
#include "tests/fs/disk_fixture.h"

namespace {

using Names = std::vector<std::string>;

class ImageCreationTest : public DiskTest {
  protected:
    image::ImageRequest Request(image::ImageContent content = image::ImageContent::kEmpty) {
        image::ImageRequest request;
        request.path = image_;
        request.bytes = 64ull << 20;
        request.cluster_bytes = 32768;
        request.content = content;
        return request;
    }
    bool Exists() const { return access(image_.c_str(), F_OK) == 0; }
};

TEST_F(ImageCreationTest, AnExistingFileIsReplacedOnlyWhenAsked) {
    WriteFileBytes(image_, "precious");
    image::ImageResult result = image::CreateImage(Request());
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.existed);
    EXPECT_EQ(ReadFileBytes(image_), "precious");
    image::ImageRequest replacing = Request();
    replacing.replace = true;
    replacing.bytes = 100;  // a size the format cannot hold leaves the file alone
    EXPECT_FALSE(image::CreateImage(replacing).ok);
    EXPECT_EQ(ReadFileBytes(image_), "precious");
    replacing.bytes = 64ull << 20;
    result = image::CreateImage(replacing);
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(Remount(), 0);
    EXPECT_EQ(List("C:\\"), Names{});
}

TEST_F(ImageCreationTest, AFailedFillRemovesTheImageItMade) {
    image::ImageRequest request = Request(image::ImageContent::kFolder);
    request.from = folder_.File("missing");
    const image::ImageResult result = image::CreateImage(request);
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.existed);
    EXPECT_NE(result.error, "");
    EXPECT_FALSE(Exists());
}

class HostileImageTest : public ImageCreationTest {
  protected:
    void SetUp() override {
        ImageCreationTest::SetUp();
        image::ImageRequest request = Request(image::ImageContent::kHostile);
        request.bytes = image::kHostileImageBytes;
        request.cluster_bytes = image::kHostileClusterBytes;
        const image::ImageResult result = image::CreateImage(request);
        ASSERT_TRUE(result.ok) << result.error;
        ExpectDamage();
        ASSERT_EQ(Remount(), 0);
    }
};

TEST_F(HostileImageTest, HoldsTheCasesItPromises) {
    EXPECT_EQ(List("C:\\"), (Names{"shared.bin", "long", "chains", "names", "graphs"}));
    EXPECT_EQ(List("C:\\names"), (Names{".", "..", "ab", "ab\x05zz",
                                        "\x05"
                                        "ab",
                                        "a\\b", "a/b", ".", "..", "..\\..\\up"}));
    EXPECT_EQ(ReadFile("C:\\names\\ab"), std::string(1000, 'a'));
    EXPECT_EQ(ReadFile("C:\\chains\\intact.bin"), std::string(100000, 'i'));
    EXPECT_EQ(ReadFile("C:\\shared.bin"), std::string(70000, 's'));
    EXPECT_EQ(List("C:\\graphs\\p2\\child"), (Names{".", "..", "kid.txt"}));
    EXPECT_EQ(List("C:\\graphs\\self\\again\\again"), (Names{".", "..", "again"}));
    EXPECT_EQ(List("C:\\graphs\\up\\root\\graphs\\up\\root"), List("C:\\"));
    std::string nest = "C:\\graphs\\nest";
    for (int level = 0; level < 6; ++level) {
        EXPECT_EQ(List(nest).size(), 42u) << nest;
        nest += level % 2 == 0 ? "\\d39" : "\\d00";
    }
    EXPECT_EQ(ReadFile(nest + "\\leaf.txt"), "leaf\n");
    const Names long_folder = List("C:\\long");
    ASSERT_EQ(long_folder.size(), 4u);
    EXPECT_EQ(long_folder[2], std::string(32, 'A'));
    EXPECT_EQ(long_folder[3], std::string(32, 'n') + ".txt");
}

// Reads stop where a chain is damaged and say so; writes through such a chain write nothing
// and leave the table as it was.
TEST_F(HostileImageTest, DamagedChainsFailReadsAndWrites) {
    const struct {
        const char* name;
        size_t readable;  // the bytes before the damage
    } files[] = {{"ends_early.bin", 32768}, {"zero_link.bin", 0},  {"into_free.bin", 65536},
                 {"out_of_range.bin", 0},   {"no_cluster.bin", 0}, {"loop.bin", 98304}};
    const std::string table_before = ImageBytes(kFatStart * 512ull, 256 * 512);
    for (const auto& file : files) {
        const std::string path = std::string("C:\\chains\\") + file.name;
        pcfm_file* handle = pcfm_open(path.c_str(), "rb");
        ASSERT_NE(handle, nullptr) << path;
        std::string data(100000, '\0');
        pcfm_errno = 0;
        EXPECT_EQ(pcfm_read(data.data(), 1, data.size(), handle), file.readable) << path;
        EXPECT_EQ(Errno(), EBADCHAIN) << path;
        pcfm_close(handle);
        for (const char* mode : {"+b", "ab"}) {
            handle = pcfm_open(path.c_str(), mode);
            ASSERT_NE(handle, nullptr) << path;
            pcfm_errno = 0;
            EXPECT_EQ(pcfm_write("written", 1, 7, handle), 0u) << path << " " << mode;
            EXPECT_EQ(Errno(), EBADCHAIN) << path << " " << mode;
            pcfm_close(handle);
        }
    }
    EXPECT_EQ(ReadFile("C:\\chains\\intact.bin"), std::string(100000, 'i'));
    Unmount();
    EXPECT_EQ(ImageBytes(kFatStart * 512ull, 256 * 512), table_before);
}

// A listed name is either the entry an operation acts on, or the operation is refused.
TEST_F(HostileImageTest, OperationsOnAwkwardNamesActOnExactlyThatEntry) {
    EXPECT_EQ(pcfm_remove("C:\\names\\ab\x05zz"), 0);
    EXPECT_EQ(ReadFile("C:\\names\\ab"), std::string(1000, 'a'));
    EXPECT_EQ(ReadFile("C:\\names\\\x05"
                       "ab"),
              std::string(1000, 'd'));
    EXPECT_EQ(pcfm_rename("C:\\names\\\x05"
                          "ab",
                          "C:\\names\\plain"),
              0);
    EXPECT_EQ(ReadFile("C:\\names\\plain"), std::string(1000, 'd'));
    // Names holding a separator, or reading as "." or "..", cannot be named by a path; what
    // such a path names instead is refused, and nothing is removed.
    for (const char* path :
         {"C:\\names\\.", "C:\\names\\..", "C:\\names\\a\\b", "C:\\names\\a/b"}) {
        EXPECT_EQ(pcfm_remove(path), -1) << path;
        EXPECT_EQ(pcfm_open(path, "+b"), nullptr) << path;
        EXPECT_EQ(pcfm_rename(path, "C:\\names\\other"), -1) << path;
    }
    EXPECT_EQ(List("C:\\names"),
              (Names{".", "..", "ab", "plain", "a\\b", "a/b", ".", "..", "..\\..\\up"}));
    // Names the path syntax cannot give back are never made.
    for (const char* path : {"C:\\names\\new\x01", "C:\\names\\\x1F"}) {
        EXPECT_EQ(pcfm_open(path, "wb"), nullptr) << path;
        EXPECT_EQ(Errno(), EBADNAME);
        EXPECT_EQ(pcfm_mkdir(path), -1);
        EXPECT_EQ(Errno(), EBADNAME);
        EXPECT_EQ(pcfm_rename("C:\\names\\ab", path), -1);
        EXPECT_EQ(Errno(), EBADNAME);
    }
    EXPECT_EQ(ReadFile("C:\\names\\ab"), std::string(1000, 'a'));
}

// Every folder is checked once however often it is linked, and each extra link is reported.
TEST_F(HostileImageTest, TheCheckerVisitsEachFolderOnce) {
    const CheckReport report = Check();
    // The root, long with its 16 levels, chains, names with "..\..\up", graphs, p1, its child,
    // p2, self, up, and nest with its six levels.
    EXPECT_EQ(report.directories, 34u) << FormatCheckReport(report);
    size_t extra_links = 0;
    for (const CheckFinding& finding : report.findings)
        if (finding.kind == Damage::kDirectoryLoop) ++extra_links;
    // p2\child, self\again, up\root, and d01 to d39 on each of the six nest levels.
    EXPECT_EQ(extra_links, 3u + 6 * 39) << FormatCheckReport(report);
    EXPECT_TRUE(report.Has(Damage::kChainCycle));
    EXPECT_TRUE(report.Has(Damage::kChainRange));
    EXPECT_TRUE(report.Has(Damage::kChainLength));
}

}  // namespace
