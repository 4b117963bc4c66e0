#include "controls/png_decoder.h"

#include <png.h>

std::optional<RgbaImage> DecodePng(std::span<const std::uint8_t> bytes) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (bytes.empty() || png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()) == 0)
        return std::nullopt;
    if (image.width == 0 || image.height == 0 || image.width > kMaxPngSide ||
        image.height > kMaxPngSide) {
        png_image_free(&image);
        return std::nullopt;
    }
    image.format = PNG_FORMAT_RGBA;
    RgbaImage result;
    result.width = static_cast<int>(image.width);
    result.height = static_cast<int>(image.height);
    result.pixels.resize(PNG_IMAGE_SIZE(image));
    // On failure libpng frees the image itself; a warning alone still gives the pixels.
    if (png_image_finish_read(&image, nullptr, result.pixels.data(), 0, nullptr) == 0 ||
        PNG_IMAGE_FAILED(image))
        return std::nullopt;
    return result;
}
