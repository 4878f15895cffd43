#include "similarity.h"

#include <cmath>
#include <numbers>

namespace duoptica::align {

Similarity Similarity::inverse() const {
    const double norm = a * a + b * b;
    Similarity inverted{-a / norm, b / norm, 0, 0};
    const Point shift = inverted.apply({tx, ty});
    inverted.tx = -shift.x;
    inverted.ty = -shift.y;
    return inverted;
}

double Similarity::rotationDegrees() const {
    return std::atan2(a, b) * 180 / std::numbers::pi;
}

double Similarity::scale() const {
    return std::hypot(a, b);
}

} // namespace duoptica::align
