// Finding how the right eye's picture sits against the left one's: SIFT features on a copy of at
// most 2000 pixels a side, matched both ways with a ratio test, RANSAC on the vertical
// coordinate, then each match refined at full size and a fit that removes the vertical disparity
// only: a similarity, or a projective correction when toed-in cameras left a keystone.
#pragma once

#include "homography.h"
#include "pixel_buffer.h"

#include <optional>
#include <string>

namespace duoptica::align {

struct AlignmentLimits {
    double maxRotationDegrees = 5;
    double maxScaleChange = 0.10;
    int minPoints = 12;
    // Beyond this (median, in pixels) the points do not share one alignment, unless their own
    // noise makes as much.
    double maxResidual = 1.0;
};

enum class Correction {
    Similarity, // rotation, scale and vertical offset
    Keystone,   // the same after a projective correction of the right eye
};

struct AlignmentFit {
    // Maps the right picture onto the left one's frame. It removes the vertical disparity and
    // leaves the picture's centre where it was horizontally, so the horizontal disparity (the
    // depth) is kept.
    Homography rightToLeft;
    Similarity similarity; // the rotation, scale and vertical offset within it
    Correction correction = Correction::Similarity;
    bool enhanced = false;          // features were found on copies with their contrast evened out
    bool measured = false;          // the points' residuals and disparities were measured
    double nearestRawDisparity = 0; // the same of the points as they are, before any warp
    int featuresLeft = 0;
    int featuresRight = 0;
    int ratioMatches = 0;            // mutual best matches that passed the ratio test
    int consistentMatches = 0;       // of those, the ones RANSAC kept
    int rowMatches = 0;              // more found along the rows, when those refined too few
    int points = 0;                  // matches refined at full size and used for the fit
    int reduction = 1;               // features were found on a copy this many times smaller
    double verticalShift = 0;        // at the picture's centre, in pixels
    double residualVertical = 0;     // median vertical disparity left over, in pixels
    double residualVertical95 = 0;   // its 95th percentile
    double similarityResidual95 = 0; // the same with a similarity alone, to compare
    double residualNoise = 0;        // how much of the residual the points' own noise makes
    double nearestDisparity = 0;     // x right - x left of the nearest 2 % of points, aligned
};

struct FitResult {
    std::optional<AlignmentFit> fit;
    std::string refusal;  // why there is no fit, as a user reads it
    AlignmentFit attempt; // how far the matching went, also when refused
};

// Where the nearest points are looked for: among the fit's own points, or, for a window placed
// at them, over the whole textured area of the pair, which takes a while longer.
enum class NearestFrom { FitPoints, TexturedArea };

// Both pictures have the same size.
FitResult fitAlignment(PixelView left, PixelView right, const AlignmentLimits &limits = {},
                       NearestFrom nearestFrom = NearestFrom::FitPoints);

} // namespace duoptica::align
