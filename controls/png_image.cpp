#include "controls/png_image.h"

#include <cstdlib>
#include <cstring>

#include "app/log.h"
#include "controls/png_decoder.h"

wxImage ImageFromPng(std::span<const std::uint8_t> bytes) {
    std::optional<RgbaImage> decoded = DecodePng(bytes);
    if (!decoded) return wxImage();
    const size_t pixels = static_cast<size_t>(decoded->width) * decoded->height;
    // wxImage takes ownership of malloc'ed planes: RGB in one, alpha in the other.
    auto* rgb = static_cast<unsigned char*>(std::malloc(pixels * 3));
    auto* alpha = static_cast<unsigned char*>(std::malloc(pixels));
    if (rgb == nullptr || alpha == nullptr) {
        std::free(rgb);
        std::free(alpha);
        return wxImage();
    }
    const std::uint8_t* source = decoded->pixels.data();
    for (size_t i = 0; i < pixels; ++i) {
        std::memcpy(rgb + i * 3, source + i * 4, 3);
        alpha[i] = source[i * 4 + 3];
    }
    return wxImage(decoded->width, decoded->height, rgb, alpha);
}

wxImage ArtworkImage(ArtworkId id) {
    wxImage image = ImageFromPng(ArtworkBytes(id));
    if (!image.IsOk()) LogLine("artwork image " + FormatDec(static_cast<int>(id)) + " damaged", 1);
    return image;
}
