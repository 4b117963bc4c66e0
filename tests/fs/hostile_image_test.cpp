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
    // The hostile content needs room beyond the disk: on an image that fills its table the
    // fill fails, and the image goes too.
    request = Request(image::ImageContent::kHostile);
    request.bytes = image::MaxImageBytes(32768);
    EXPECT_FALSE(image::CreateImage(request).ok);
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

}  // namespace
