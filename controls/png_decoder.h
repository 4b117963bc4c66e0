// PNG bytes to 8-bit RGBA pixels, through libpng's simplified interface. Knows nothing of
// windows, so it can be fed any bytes on its own (tests, fuzzing).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

struct RgbaImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // rows top to bottom, 4 bytes a pixel: R, G, B, A
};

// The largest side accepted: the widgets' images are small, and a damaged header must not
// make the decoder allocate gigabytes.
inline constexpr std::uint32_t kMaxPngSide = 4096;

// The decoded image, or nothing when the bytes are not a whole, valid PNG image.
std::optional<RgbaImage> DecodePng(std::span<const std::uint8_t> bytes);
