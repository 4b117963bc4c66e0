// Any bytes as the PNG image of a widget: decoded or refused, never a crash or a read past
// the input, and never more pixels than the side limit allows.
#include <cstddef>
#include <cstdint>

#include "controls/png_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto image = DecodePng(std::span<const std::uint8_t>(data, size));
    if (image && (image->width > static_cast<int>(kMaxPngSide) ||
                  image->height > static_cast<int>(kMaxPngSide) ||
                  image->pixels.size() != static_cast<size_t>(image->width) * image->height * 4))
        __builtin_trap();
    return 0;
}
