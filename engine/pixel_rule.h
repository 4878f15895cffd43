// The rule that turns a left and a right pixel into one output pixel, in each combine mode.
//
// Two forms of the same rule live here. combinePixelByText() follows the rule literally: every
// channel passes through its decimal text and single-precision arithmetic. combinePixel() and the
// channel functions below do the same in integers, which is exact because every value involved is
// a whole number from 0 to 510; the tests prove both forms agree for every input.
#pragma once

#include "color_value.h"

namespace duoptica {

enum class CombineMode { Normal, RedBlue, RedGreen };

struct Channels {
    int red = 0;
    int green = 0;
    int blue = 0;
};

constexpr Channels channelsOf(ColorValue color) {
    return {color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF};
}

constexpr ColorValue colorOf(Channels c) {
    return c.red + 256 * c.green + 65536 * c.blue;
}

// A channel is dominant only when it is strictly greater than both others. Both collapses are
// written without branches: picture content is noise to a branch predictor, and selects vectorise.
//
// The left picture's dominant channel drives red; on a tie red keeps its own value.
constexpr int collapseLeft(Channels c) {
    const bool greenDominant = (c.green > c.red) & (c.green > c.blue);
    const bool blueDominant = (c.blue > c.red) & (c.blue > c.green);
    return greenDominant ? c.green : blueDominant ? c.blue : c.red;
}

// The right picture's dominant channel drives blue; on a tie blue keeps its own value.
constexpr int collapseRight(Channels c) {
    const bool redDominant = (c.red > c.green) & (c.red > c.blue);
    const bool greenDominant = (c.green > c.red) & (c.green > c.blue);
    return redDominant ? c.red : greenDominant ? c.green : c.blue;
}

// (a + b) / 2 rounded to a whole number, a half going to the even neighbour.
constexpr int halfEvenMean(int a, int b) {
    const int sum = a + b;
    return (sum + ((sum >> 1) & 1)) >> 1;
}

// Always inlined: callers pass a mode that is the same for a whole loop, and only once inlined
// does the switch fold away and leave straight-line code.
[[gnu::always_inline]] constexpr Channels combineChannels(Channels left, Channels right,
                                                          CombineMode mode) {
    switch (mode) {
    case CombineMode::Normal:
        return {halfEvenMean(left.red, right.red), halfEvenMean(left.green, right.green),
                halfEvenMean(left.blue, right.blue)};
    case CombineMode::RedBlue:
        return {halfEvenMean(collapseLeft(left), 0), 0, halfEvenMean(collapseRight(right), 0)};
    case CombineMode::RedGreen:
        return {halfEvenMean(collapseLeft(left), 0), halfEvenMean(collapseRight(right), 0), 0};
    }
    return {};
}

[[gnu::always_inline]] constexpr ColorValue combinePixel(ColorValue left, ColorValue right,
                                                         CombineMode mode) {
    return colorOf(combineChannels(channelsOf(left), channelsOf(right), mode));
}

// The literal form: channels through decimal text, single-precision averages, halves to even.
ColorValue combinePixelByText(ColorValue left, ColorValue right, CombineMode mode);

} // namespace duoptica
