#include "controls/png_decoder.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "controls/artwork.h"

namespace {
std::vector<std::uint8_t> Bytes(ArtworkId id) {
    const auto bytes = ArtworkBytes(id);
    return {bytes.begin(), bytes.end()};
}
}  // namespace

TEST(PngDecoder, DecodesTheEmbeddedArtwork) {
    const auto skin = DecodePng(Bytes(ArtworkId::kButtonSkin));
    ASSERT_TRUE(skin);
    EXPECT_EQ(skin->width, 200);
    EXPECT_EQ(skin->height, 24);
    // The skin's top-left corner is the key colour, opaque.
    EXPECT_EQ(skin->pixels[0], 255);
    EXPECT_EQ(skin->pixels[1], 0);
    EXPECT_EQ(skin->pixels[2], 255);
    EXPECT_EQ(skin->pixels[3], 255);

    const auto gloss = DecodePng(Bytes(ArtworkId::kGloss));
    ASSERT_TRUE(gloss);
    // White fading out downwards: the top row more opaque than the bottom one.
    const size_t last_row = static_cast<size_t>(gloss->height - 1) * gloss->width * 4;
    EXPECT_EQ(gloss->pixels[0], 255);
    EXPECT_GT(gloss->pixels[3], 150);
    EXPECT_LT(gloss->pixels[last_row + 3], 30);
}

TEST(PngDecoder, RejectsTruncatedAndGarbledBytes) {
    const std::vector<std::uint8_t> good = Bytes(ArtworkId::kProgramIcon48);
    ASSERT_TRUE(DecodePng(good));
    EXPECT_FALSE(DecodePng({}));
    for (size_t length : {size_t{1}, size_t{8}, size_t{33}, good.size() / 2, good.size() - 13}) {
        const std::vector<std::uint8_t> truncated(good.begin(), good.begin() + length);
        EXPECT_FALSE(DecodePng(truncated)) << "truncated to " << length;
    }
    // Flipped bytes in the compressed data break its checksum.
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        std::vector<std::uint8_t> garbled = good;
        for (int flip = 0; flip < 8; ++flip) garbled[60 + random() % (garbled.size() - 80)] ^= 0x5A;
        EXPECT_FALSE(DecodePng(garbled)) << "round " << round;
    }
    std::vector<std::uint8_t> not_png(300, 0x89);
    EXPECT_FALSE(DecodePng(not_png));
}

TEST(PngDecoder, RefusesAHugeImageBeforeAllocatingIt) {
    std::vector<std::uint8_t> huge = Bytes(ArtworkId::kSearchIcon);
    // The header's width (big-endian at byte 16) set to 2^30; its CRC no longer matches
    // either, so libpng or the size limit refuses it.
    huge[16] = 0x40;
    EXPECT_FALSE(DecodePng(huge));
}
