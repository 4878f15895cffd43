#include "homography.h"

namespace duoptica::align {

Homography Homography::from(const Similarity &s) {
    return {{s.b, -s.a, s.tx, s.a, s.b, s.ty, 0, 0, 1}};
}

Point Homography::apply(Point p) const {
    const double w = m[6] * p.x + m[7] * p.y + m[8];
    return {(m[0] * p.x + m[1] * p.y + m[2]) / w, (m[3] * p.x + m[4] * p.y + m[5]) / w};
}

Homography Homography::inverse() const {
    // The adjugate over the determinant.
    const std::array<double, 9> adjugate{
        m[4] * m[8] - m[5] * m[7], m[2] * m[7] - m[1] * m[8], m[1] * m[5] - m[2] * m[4],
        m[5] * m[6] - m[3] * m[8], m[0] * m[8] - m[2] * m[6], m[2] * m[3] - m[0] * m[5],
        m[3] * m[7] - m[4] * m[6], m[1] * m[6] - m[0] * m[7], m[0] * m[4] - m[1] * m[3]};
    const double determinant = m[0] * adjugate[0] + m[1] * adjugate[3] + m[2] * adjugate[6];
    Homography inverted;
    for (int i = 0; i < 9; ++i)
        inverted.m[std::size_t(i)] = adjugate[std::size_t(i)] / determinant;
    return inverted.normalised();
}

Homography Homography::then(const Homography &after) const {
    Homography product;
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column) {
            double sum = 0;
            for (int k = 0; k < 3; ++k)
                sum += after.m[std::size_t(row * 3 + k)] * m[std::size_t(k * 3 + column)];
            product.m[std::size_t(row * 3 + column)] = sum;
        }
    return product.normalised();
}

Homography Homography::normalised() const {
    Homography scaled = *this;
    for (double &entry : scaled.m)
        entry /= m[8];
    return scaled;
}

Homography Homography::shiftedRight(double dx) const {
    Homography shifted = *this;
    for (int column = 0; column < 3; ++column)
        shifted.m[std::size_t(column)] += dx * m[std::size_t(6 + column)];
    return shifted;
}

} // namespace duoptica::align
