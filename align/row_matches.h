// More candidates for a pair whose features matched too few to fit, once the few that agree
// have given a first estimate: once the right picture is laid onto the left one's frame, a
// point of the scene lies on the same row in both, so a patch of the left picture needs only
// be looked for along its row, within the disparities the matches showed.
#pragma once

#include "homography.h"

#include <opencv2/core.hpp>

#include <vector>

namespace duoptica::align {

struct RowMatch {
    Point left;  // in the grey pictures' pixels
    Point right; // the same place in the right grey picture, before the estimate moves it
    double score = 0;
};

struct RowSearch {
    Homography rightToLeft; // the estimate, in the grey pictures' pixels
    double nearest = 0;     // the disparities (x right - x left, after the estimate) to look in
    double farthest = 0;
    double minScore = 0.8;    // the least correlation of a match
    double minContrast = 2.0; // the least standard deviation of a patch's grey levels
    int columns = 1;          // one patch at the middle of each cell of this grid
    int rows = 1;
    // Near the picture's sides the range is cut to what the picture holds, rather than the patch
    // left out: a frame around the picture, or a subject at its edge, is measured too.
    bool cutAtSides = false;
};

// The grid's textured patches whose best match along their row is clear (a correlation of
// minScore or more) and unique (nothing within 0.1 of it farther than a few pixels along the
// row). Both pictures are 8-bit grey and of one size.
std::vector<RowMatch> matchAlongRows(const cv::Mat &leftGrey, const cv::Mat &rightGrey,
                                     const RowSearch &search);

} // namespace duoptica::align
