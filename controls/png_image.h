// PNG images as wxImage, alpha kept: from bytes and from the embedded artwork.
#pragma once

#include <wx/image.h>

#include <cstdint>
#include <span>

#include "controls/artwork.h"

// The decoded image, or an image that is not IsOk() when the bytes are damaged.
wxImage ImageFromPng(std::span<const std::uint8_t> bytes);
wxImage ArtworkImage(ArtworkId id);
