// Combines whole rows of pixels at once, in the packed form picture files decode to.
#pragma once

#include "pixel_rule.h"

#include <cstddef>
#include <cstdint>

namespace duoptica {

// One pixel as a 32-bit word 0xAARRGGBB (blue in the low byte, unlike ColorValue). The alpha
// byte of an input is ignored; every output word is opaque.
using PackedPixel = std::uint32_t;

constexpr Channels channelsOfPacked(PackedPixel pixel) {
    return {static_cast<int>((pixel >> 16) & 0xFF), static_cast<int>((pixel >> 8) & 0xFF),
            static_cast<int>(pixel & 0xFF)};
}

constexpr PackedPixel packedOf(Channels c) {
    return 0xFF000000u | static_cast<PackedPixel>(c.red) << 16 |
           static_cast<PackedPixel>(c.green) << 8 | static_cast<PackedPixel>(c.blue);
}

// output[i] := the combination of left[i] and right[i], for i below count. output may be the
// same buffer as left or right (the combination is done in place then), but must not overlap
// either of them in any other way.
void combineSpan(const PackedPixel *left, const PackedPixel *right, PackedPixel *output,
                 std::size_t count, CombineMode mode);

} // namespace duoptica
