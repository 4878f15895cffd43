#include "row_matches.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <optional>

namespace duoptica::align {

namespace {

// The estimate comes from a few matches on a reduced copy, or from a fit that leaves up to a
// couple of pixels toward the corners: the row it gives may be off by this many pixels either way.
constexpr int kSlack = 3;
constexpr int kHalf = 10; // patches of 21 x 21 pixels
// Texture that repeats along the row (wood grain, tiles) matches in several places: a peak is
// kept only when nothing this close to it lies farther than kPeakWidth pixels along the row.
constexpr double kUniqueBy = 0.1;
constexpr int kPeakWidth = 3;

bool uniqueAlongRow(const cv::Mat &scores, cv::Point at, double best) {
    cv::Mat columnBest;
    cv::reduce(scores, columnBest, 0, cv::REDUCE_MAX);
    for (int i = 0; i < columnBest.cols; ++i)
        if (std::abs(i - at.x) > kPeakWidth && columnBest.at<float>(0, i) > best - kUniqueBy)
            return false;
    return true;
}

// The patch at (x, y) of the left picture looked for in `laid`, the right one in the left's frame.
std::optional<RowMatch> matchAt(const cv::Mat &left, const cv::Mat &laid, int x, int y,
                                const RowSearch &search, const Homography &leftToRight) {
    const int side = 2 * kHalf + 1;
    if (x < kHalf || y < kHalf + kSlack || x + kHalf >= left.cols ||
        y + kHalf + kSlack >= left.rows)
        return {};
    const cv::Mat patch = left(cv::Rect(x - kHalf, y - kHalf, side, side));
    cv::Scalar mean, deviation;
    cv::meanStdDev(patch, mean, deviation);
    if (deviation[0] < search.minContrast)
        return {};
    // Unless cut at the sides, the whole range lies in the picture: a repeat of the texture past
    // its edge would go unseen.
    int from = x + int(std::floor(search.nearest)) - kHalf;
    int to = x + int(std::ceil(search.farthest)) + kHalf + 1;
    if (search.cutAtSides) {
        from = std::max(from, 0);
        to = std::min(to, laid.cols);
    }
    if (from < 0 || to > laid.cols || to - from < side + 2)
        return {};
    cv::Mat scores;
    cv::matchTemplate(
        laid(cv::Range(y - kHalf - kSlack, y + kHalf + kSlack + 1), cv::Range(from, to)), patch,
        scores, cv::TM_CCOEFF_NORMED);
    double best = 0;
    cv::Point at;
    cv::minMaxLoc(scores, nullptr, &best, nullptr, &at);
    if (!(best >= search.minScore) || at.x == 0 || at.y == 0 || at.x == scores.cols - 1 ||
        at.y == scores.rows - 1 || !uniqueAlongRow(scores, at, best))
        return {};
    const Point inLaid{double(from + at.x + kHalf), double(y - kSlack + at.y)};
    return RowMatch{{double(x), double(y)}, leftToRight.apply(inLaid), best};
}

} // namespace

std::vector<RowMatch> matchAlongRows(const cv::Mat &leftGrey, const cv::Mat &rightGrey,
                                     const RowSearch &search) {
    cv::Mat laid;
    cv::warpPerspective(rightGrey, laid, cv::Matx33d(search.rightToLeft.m.data()), leftGrey.size(),
                        cv::INTER_LINEAR, cv::BORDER_CONSTANT);
    const Homography leftToRight = search.rightToLeft.inverse();
    // The grid's rows on both cores, gathered in order so that the result is the same on any.
    std::vector<std::vector<RowMatch>> byRow(std::size_t(search.rows));
    cv::parallel_for_(cv::Range(0, search.rows), [&](const cv::Range &rows) {
        for (int row = rows.start; row < rows.end; ++row)
            for (int column = 0; column < search.columns; ++column) {
                const int x = (2 * column + 1) * leftGrey.cols / (2 * search.columns);
                const int y = (2 * row + 1) * leftGrey.rows / (2 * search.rows);
                if (const std::optional<RowMatch> match =
                        matchAt(leftGrey, laid, x, y, search, leftToRight))
                    byRow[std::size_t(row)].push_back(*match);
            }
    });
    std::vector<RowMatch> found;
    for (const std::vector<RowMatch> &row : byRow)
        found.insert(found.end(), row.begin(), row.end());
    return found;
}

} // namespace duoptica::align
