// Finding how the right eye's picture sits against the left one's: features on a reduced copy,
// matched with a ratio test, a RANSAC similarity, then each match refined at full size and a fit
// that removes the vertical disparity only.
#pragma once

#include "pixel_buffer.h"
#include "similarity.h"

#include <optional>
#include <string>

namespace duoptica::align {

struct AlignmentLimits {
    double maxRotationDegrees = 5;
    double maxScaleChange = 0.10;
    int minPoints = 12;
    // Beyond this (median, in pixels) the points do not share one alignment.
    double maxResidual = 1.0;
};

struct AlignmentFit {
    // Maps the right picture onto the left one's frame. It corrects the rotation, the scale and
    // the vertical offset, and leaves the picture's centre where it was horizontally, so the
    // horizontal disparity (the depth) is kept.
    Similarity rightToLeft;
    int featuresLeft = 0;
    int featuresRight = 0;
    int ratioMatches = 0;        // matches that passed the ratio test
    int points = 0;              // matches refined at full size and used for the fit
    int reduction = 1;           // features were found on a copy this many times smaller
    double verticalShift = 0;    // at the picture's centre, in pixels
    double residualVertical = 0; // median vertical disparity left over, in pixels
    double nearestDisparity = 0; // x right - x left of the nearest points, once aligned
};

struct FitResult {
    std::optional<AlignmentFit> fit;
    std::string refusal; // why there is no fit, as a user reads it
};

// Both pictures have the same size.
FitResult fitAlignment(PixelView left, PixelView right, const AlignmentLimits &limits = {});

} // namespace duoptica::align
