#include "row_matches.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <optional>

namespace duoptica::align {

namespace {

constexpr int kHalf = 10; // patches of 21 x 21 pixels
// The estimate comes from a few matches on a reduced copy: the row it gives may be off by this
// many pixels either way.
constexpr int kSlack = 3;
constexpr double kMinContrast = 2.0;
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
    if (deviation[0] < kMinContrast)
        return {};
    // The whole range lies in the picture: a repeat of the texture past its edge would go unseen.
    const int from = x + int(std::floor(search.nearest)) - kHalf;
    const int to = x + int(std::ceil(search.farthest)) + kHalf + 1;
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
    std::vector<RowMatch> found;
    for (int row = 0; row < search.rows; ++row)
        for (int column = 0; column < search.columns; ++column) {
            const int x = (2 * column + 1) * leftGrey.cols / (2 * search.columns);
            const int y = (2 * row + 1) * leftGrey.rows / (2 * search.rows);
            if (const std::optional<RowMatch> match =
                    matchAt(leftGrey, laid, x, y, search, leftToRight))
                found.push_back(*match);
        }
    return found;
}

} // namespace duoptica::align
