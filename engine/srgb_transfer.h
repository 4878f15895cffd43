// The sRGB transfer function for the Dubois anaglyphs: exact in double precision, and as the
// tables every row kernel looks up, so that all kernels give the same channel for a pixel.
#pragma once

#include <cstdint>

namespace duoptica {

double srgbToLinear(double encoded);
double linearToSrgb(double linear);

// One step of the encode table is at most 0.05 of an output level (the curve is steepest at
// black, 12.92 x 255 levels per unit), so a looked-up channel differs from the exact one only
// where the exact value lies within 0.025 of a half.
inline constexpr int kEncodeSteps = 1 << 16;

struct TransferTables {
    // A stored channel's linear value.
    float decode[256];
    // The stored channel of step i / kEncodeSteps; three bytes past the last step keep a
    // four-byte load at any step inside.
    std::uint8_t encode[kEncodeSteps + 4];
};

const TransferTables &transferTables();

// The encode table's step for a linear value, clamped to 0..1 first.
[[gnu::always_inline]] inline int encodeStep(float linear) {
    const float clamped = linear < 0.0f ? 0.0f : linear > 1.0f ? 1.0f : linear;
    return static_cast<int>(clamped * kEncodeSteps + 0.5f);
}

} // namespace duoptica
