#include "common_rectangle.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace duoptica::align {

namespace {

struct Span {
    int first = 0;
    int last = -1; // empty when below first
};

// The covered pixels of row y: the region is convex, so this is one run.
Span coveredSpan(const Homography &leftToRight, int width, int height, int y) {
    double low = 0;
    double high = width - 1;
    // With the weight w kept positive, each bound on a mapped coordinate is linear in x:
    // slope x + offset >= 0.
    const auto atLeastZero = [&](double slope, double offset) {
        constexpr double kTolerance = 1e-9;
        if (std::abs(slope) < 1e-12) {
            if (offset < -kTolerance)
                high = -1;
            return;
        }
        const double bound = -offset / slope;
        if (slope > 0)
            low = std::max(low, bound - kTolerance);
        else
            high = std::min(high, bound + kTolerance);
    };
    const std::array<double, 9> &m = leftToRight.m;
    const double wSlope = m[6];
    const double wOffset = m[7] * y + m[8];
    const double limits[2] = {double(width - 1), double(height - 1)};
    for (int axis = 0; axis < 2; ++axis) {
        const double slope = m[std::size_t(3 * axis)];
        const double offset = m[std::size_t(3 * axis + 1)] * y + m[std::size_t(3 * axis + 2)];
        atLeastZero(slope, offset);
        atLeastZero(limits[axis] * wSlope - slope, limits[axis] * wOffset - offset);
    }
    if (high < low)
        return {};
    return {int(std::ceil(low)), int(std::floor(high))};
}

} // namespace

PixelRect largestCommonRectangle(const Homography &leftToRight, int width, int height) {
    std::vector<Span> rows;
    rows.reserve(std::size_t(height));
    for (int y = 0; y < height; ++y)
        rows.push_back(coveredSpan(leftToRight, width, height, y));

    // The region's left edge is convex and its right edge concave, so a band of rows holds the
    // columns its first and its last row share.
    PixelRect best;
    long long bestArea = 0;
    for (int top = 0; top < height; ++top) {
        for (int bottom = height - 1; bottom >= top; --bottom) {
            const long long rowsInBand = bottom - top + 1;
            if (rowsInBand * width <= bestArea)
                break;
            const int first =
                std::max(rows[std::size_t(top)].first, rows[std::size_t(bottom)].first);
            const int last = std::min(rows[std::size_t(top)].last, rows[std::size_t(bottom)].last);
            if (last < first)
                continue;
            const long long area = rowsInBand * (last - first + 1);
            if (area > bestArea) {
                bestArea = area;
                best = {first, top, last - first + 1, int(rowsInBand)};
            }
        }
    }
    return best;
}

} // namespace duoptica::align
