// A block device over an image file that keeps the file sparse: a write of zeros over sectors
// that are still a hole is left out, since the hole already reads as those zeros. Everything
// else is the direct image table (image_block_device.h). Filling an image with large sample
// files then costs little disk space.
#pragma once

#include <string>

#include "pvrdisk/transport/block_device.h"

namespace image {

extern const pcfm_blkdrv sparse_image_block_driver;

bool OpenSparseImage(const std::string& path);
void CloseSparseImage();

}  // namespace image
