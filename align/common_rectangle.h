// The largest rectangle of the left picture's frame that a transformed right picture covers
// entirely, so that no pixel of the cropped pair comes from outside either picture.
#pragma once

#include "homography.h"

namespace duoptica::align {

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Both pictures are width x height. leftToRight maps a point of the left frame to the right
// picture, with a positive weight over the frame; a pixel is covered when its centre maps within
// the right picture's pixel centres.
// Empty (zero width) when nothing is covered.
PixelRect largestCommonRectangle(const Homography &leftToRight, int width, int height);

} // namespace duoptica::align
