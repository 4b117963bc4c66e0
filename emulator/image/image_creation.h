// Making an image file at the user's request: never over an existing file unless asked to,
// filled as asked, and removed again when any step fails, so that a half-made image is never
// left behind to be taken for a good one.
#pragma once

#include <cstdint>
#include <string>

namespace image {

enum class ImageContent {
    kEmpty,
    kSample,   // FillSampleContent
    kFolder,   // FillFromFolder of `from`
    kHostile,  // FillHostileContent; the size and cluster must leave room beyond the disk
};

struct ImageRequest {
    std::string path;
    uint64_t bytes = 0;
    uint32_t cluster_bytes = 0;
    bool replace = false;  // an existing file at `path` may be replaced
    ImageContent content = ImageContent::kEmpty;
    std::string from;  // the PC folder for kFolder
};

struct ImageResult {
    bool ok = false;
    bool existed = false;  // refused: `path` exists and `replace` was not given
    std::string error;     // why it failed; the image is then gone
    uint64_t files = 0;    // copied by kFolder
    uint64_t folders = 0;
};

ImageResult CreateImage(const ImageRequest& request);

}  // namespace image
