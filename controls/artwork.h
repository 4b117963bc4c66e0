// The widgets' artwork, embedded in the program as PNG bytes by the build.
#pragma once

#include <cstdint>
#include <span>

enum class ArtworkId {
    kButtonSkin,     // the push buttons' skin: 5 frames of 40 x 24 side by side, key magenta
    kSearchIcon,     // the search field's magnifier, 16 x 16
    kGloss,          // the status bar's gloss: white fading to transparent downwards
    kProgramIcon16,  // the program's icon at 16, 32 and 48 pixels
    kProgramIcon32,
    kProgramIcon48,
};

// The PNG bytes of `id`; they live as long as the program.
std::span<const std::uint8_t> ArtworkBytes(ArtworkId id);
