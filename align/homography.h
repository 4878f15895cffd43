// A projective transform of the plane in pixel coordinates, for the keystone of toed-in cameras
// that a similarity cannot undo.
#pragma once

#include "similarity.h"

#include <array>

namespace duoptica::align {

// Row-major 3 x 3: x' = (m0 x + m1 y + m2) / w, y' = (m3 x + m4 y + m5) / w,
// w = m6 x + m7 y + m8.
struct Homography {
    std::array<double, 9> m{1, 0, 0, 0, 1, 0, 0, 0, 1};

    static Homography from(const Similarity &similarity);
    Point apply(Point p) const;
    Homography inverse() const;
    // This transform, then `after`.
    Homography then(const Homography &after) const;
    // This transform, then a move of dx to the right.
    Homography shiftedRight(double dx) const;
    // The same transform with m8 = 1, so that w is positive near the origin's image.
    Homography normalised() const;
    bool isAffine() const { return m[6] == 0 && m[7] == 0; }
};

} // namespace duoptica::align
