#include "png_row_filter.h"

#include <algorithm>
#include <cstdlib>

namespace duoptica {

namespace {

// One filter over a row: each byte less its prediction from the byte to its left (a), above (b)
// and above-left (c); returns the sum of the results' magnitudes as signed bytes. A loop per
// filter, reading the padded rows without a test for the first pixel, so that it vectorises.
template <typename Predict>
long filterWith(const unsigned char *__restrict row, const unsigned char *__restrict above,
                std::size_t length, unsigned char *__restrict out, Predict predict) {
    long cost = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const int left = row[i - kPngPixelBytes];
        const int upLeft = above[i - kPngPixelBytes];
        const auto value = static_cast<unsigned char>(row[i] - predict(left, above[i], upLeft));
        out[i] = value;
        cost += std::abs(int(static_cast<signed char>(value)));
    }
    return cost;
}

} // namespace

PngRowFilter::PngRowFilter(std::size_t rowBytes)
    : rowBytes_(rowBytes) {
    for (std::vector<unsigned char> &candidate : candidates_)
        candidate.resize(rowBytes);
}

void PngRowFilter::filter(const unsigned char *row, const unsigned char *above,
                          unsigned char *out) {
    const std::array<long, 5> cost{
        filterWith(row, above, rowBytes_, candidates_[0].data(), [](int, int, int) { return 0; }),
        filterWith(row, above, rowBytes_, candidates_[1].data(),
                   [](int left, int, int) { return left; }),
        filterWith(row, above, rowBytes_, candidates_[2].data(),
                   [](int, int up, int) { return up; }),
        filterWith(row, above, rowBytes_, candidates_[3].data(),
                   [](int left, int up, int) { return (left + up) >> 1; }),
        filterWith(row, above, rowBytes_, candidates_[4].data(),
                   [](int left, int up, int upLeft) {
                       // Paeth: the neighbour nearest to left + up - upLeft, ties to left, then up.
                       const int toLeft = std::abs(up - upLeft);
                       const int toUp = std::abs(left - upLeft);
                       const int toUpLeft = std::abs(left + up - 2 * upLeft);
                       return toLeft <= toUp && toLeft <= toUpLeft ? left
                              : toUp <= toUpLeft                   ? up
                                                                   : upLeft;
                   }),
    };
    const auto best = std::size_t(std::min_element(cost.begin(), cost.end()) - cost.begin());
    out[0] = static_cast<unsigned char>(best);
    std::copy_n(candidates_[best].data(), rowBytes_, out + 1);
}

} // namespace duoptica
