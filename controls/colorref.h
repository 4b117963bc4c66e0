// Colours written as the system's colour references: 0x00BBGGRR, red in the lowest byte.
#pragma once

#include <wx/colour.h>

#include <cstdint>

inline wxColour ColourFromColorRef(std::uint32_t value) {
    return wxColour(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}
