#include "pixel_rule.h"

#include "module2.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace duoptica {

namespace {

float toSingle(const std::string &text) {
    return std::strtof(text.c_str(), nullptr);
}

// nearbyint under the default rounding mode sends halves to the even neighbour.
float roundHalfEven(float value) {
    return std::nearbyint(value);
}

std::int16_t toInteger16(float wholeValue) {
    return static_cast<std::int16_t>(wholeValue);
}

} // namespace

ColorValue combinePixelByText(ColorValue left, ColorValue right, CombineMode mode) {
    const bool anaglyph = mode == CombineMode::RedBlue || mode == CombineMode::RedGreen;

    float leftRed = toSingle(Module2::GetRed(left));
    float leftGreen = toSingle(Module2::GetGreen(left));
    float leftBlue = toSingle(Module2::GetBlue(left));
    if (anaglyph) {
        if (leftRed > leftGreen && leftRed > leftBlue) {
            // red is already the strongest
        } else if (leftGreen > leftRed && leftGreen > leftBlue) {
            leftRed = leftGreen;
        } else if (leftBlue > leftRed && leftBlue > leftGreen) {
            leftRed = leftBlue;
        }
        leftGreen = 0;
        leftBlue = 0;
    }

    float rightRed = toSingle(Module2::GetRed(right));
    float rightGreen = toSingle(Module2::GetGreen(right));
    float rightBlue = toSingle(Module2::GetBlue(right));
    if (anaglyph) {
        if (rightRed > rightGreen && rightRed > rightBlue) {
            rightBlue = rightRed;
        } else if (rightGreen > rightRed && rightGreen > rightBlue) {
            rightBlue = rightGreen;
        }
        rightRed = 0;
        rightGreen = 0;
    }

    const float outRed = roundHalfEven((rightRed + leftRed) / 2.0f);
    const float outGreen = roundHalfEven((rightGreen + leftGreen) / 2.0f);
    const float outBlue = roundHalfEven((rightBlue + leftBlue) / 2.0f);

    const std::int16_t red = toInteger16(outRed);
    switch (mode) {
    case CombineMode::Normal:
        return red + 256 * toInteger16(outGreen) + 65536 * toInteger16(outBlue);
    case CombineMode::RedBlue:
        return red + 65536 * toInteger16(outBlue);
    case CombineMode::RedGreen:
        return red + 256 * toInteger16(outBlue);
    }
    return 0;
}

} // namespace duoptica
