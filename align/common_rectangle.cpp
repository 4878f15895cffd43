#include "common_rectangle.h"

#include <algorithm>
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
Span coveredSpan(const Similarity &leftToRight, int width, int height, int y) {
    double low = 0;
    double high = width - 1;
    // Both coordinates of the mapped centre are linear in x: slope x + offset, within [0, limit].
    const auto constrain = [&](double slope, double offset, double limit) {
        constexpr double kTolerance = 1e-9;
        if (std::abs(slope) < 1e-12) {
            if (offset < -kTolerance || offset > limit + kTolerance)
                high = -1;
            return;
        }
        double from = (0 - offset) / slope;
        double to = (limit - offset) / slope;
        if (from > to)
            std::swap(from, to);
        low = std::max(low, from - kTolerance);
        high = std::min(high, to + kTolerance);
    };
    constrain(leftToRight.b, -leftToRight.a * y + leftToRight.tx, width - 1);
    constrain(leftToRight.a, leftToRight.b * y + leftToRight.ty, height - 1);
    if (high < low)
        return {};
    return {int(std::ceil(low)), int(std::floor(high))};
}

} // namespace

PixelRect largestCommonRectangle(const Similarity &leftToRight, int width, int height) {
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
