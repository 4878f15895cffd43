// The colour every pixel call speaks, and the 16-bit Boolean the window shares with a run.
#pragma once

#include <cstdint>

namespace duoptica {

// Red in bits 0-7, green in bits 8-15, blue in bits 16-23; bits 24-31 carry nothing.
using ColorValue = std::int32_t;

// What a surface answers for a position outside its bitmap; its channels read as 255.
inline constexpr ColorValue kOutsideBitmap = -1;

// A Boolean stored in 16 bits, True being all bits set.
using Boolean16 = std::int16_t;
inline constexpr Boolean16 kFalse16 = 0;
inline constexpr Boolean16 kTrue16 = -1;

} // namespace duoptica
