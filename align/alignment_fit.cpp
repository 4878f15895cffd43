#include "alignment_fit.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace duoptica::align {

namespace {

// Features are found on a copy whose longer side is at most this: ORB finds plenty there, and a
// 24-megapixel picture is reduced six times.
constexpr int kDetectionSide = 1000;
constexpr int kMaxFeatures = 4000;
constexpr float kRatio = 0.8f;
// Refinement: a patch of the left picture is looked for in the right one, turned and scaled by
// the estimate so far. One match per cell of a grid keeps the points spread over the picture.
constexpr int kPatchHalf = 10;
constexpr int kGridColumns = 24;
constexpr int kGridRows = 16;
constexpr double kMinCorrelation = 0.8;
constexpr double kMinPatchContrast = 2.0;

struct PointPair {
    Point left;
    Point right;
    float distance = 0; // descriptor distance, smaller is better
};

cv::Mat wrap(PixelView view) {
    // QImage's 32-bit words are B, G, R, A in memory on a little-endian machine.
    return cv::Mat(view.height, view.width, CV_8UC4, const_cast<std::uint32_t *>(view.pixels),
                   static_cast<std::size_t>(view.stride) * sizeof(std::uint32_t));
}

cv::Mat reducedGrey(const cv::Mat &picture, int reduction) {
    cv::Mat reduced = picture;
    if (reduction > 1)
        cv::resize(
            picture, reduced,
            cv::Size(std::max(1, picture.cols / reduction), std::max(1, picture.rows / reduction)),
            0, 0, cv::INTER_AREA);
    cv::Mat grey;
    cv::cvtColor(reduced, grey, cv::COLOR_BGRA2GRAY);
    return grey;
}

std::string formatted(const char *format, double a, double b = 0) {
    char text[200];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// The matches of right features to left ones that pass the ratio test, in full-size pixels.
std::vector<PointPair> matchFeatures(const cv::Mat &left, const cv::Mat &right, int reduction,
                                     AlignmentFit &fit) {
    const cv::Mat greyLeft = reducedGrey(left, reduction);
    const cv::Mat greyRight = reducedGrey(right, reduction);
    const cv::Ptr<cv::ORB> orb =
        cv::ORB::create(kMaxFeatures, 1.2f, 8, 31, 0, 2, cv::ORB::HARRIS_SCORE, 31, 10);
    std::vector<cv::KeyPoint> keysLeft, keysRight;
    cv::Mat descriptorsLeft, descriptorsRight;
    orb->detectAndCompute(greyLeft, cv::noArray(), keysLeft, descriptorsLeft);
    orb->detectAndCompute(greyRight, cv::noArray(), keysRight, descriptorsRight);
    fit.featuresLeft = int(keysLeft.size());
    fit.featuresRight = int(keysRight.size());
    if (keysLeft.size() < 2 || keysRight.size() < 2)
        return {};

    std::vector<std::vector<cv::DMatch>> candidates;
    cv::BFMatcher(cv::NORM_HAMMING).knnMatch(descriptorsRight, descriptorsLeft, candidates, 2);
    const double scaleX = double(left.cols) / greyLeft.cols;
    const double scaleY = double(left.rows) / greyLeft.rows;
    const auto fullSize = [&](cv::Point2f p) {
        return Point{(p.x + 0.5) * scaleX - 0.5, (p.y + 0.5) * scaleY - 0.5};
    };
    std::vector<PointPair> matches;
    for (const std::vector<cv::DMatch> &best : candidates) {
        if (best.size() < 2 || best[0].distance >= kRatio * best[1].distance)
            continue;
        matches.push_back({fullSize(keysLeft[std::size_t(best[0].trainIdx)].pt),
                           fullSize(keysRight[std::size_t(best[0].queryIdx)].pt),
                           best[0].distance});
    }
    fit.ratioMatches = int(matches.size());
    return matches;
}

// The similarity whose vertical row fits the pairs best by least squares, with its horizontal
// translation set to keep the centre (cx, cy) where it is horizontally.
Similarity fitVertical(const std::vector<PointPair> &pairs, double cx, double cy) {
    cv::Mat design(int(pairs.size()), 3, CV_64F);
    cv::Mat target(int(pairs.size()), 1, CV_64F);
    for (int i = 0; i < int(pairs.size()); ++i) {
        const PointPair &pair = pairs[std::size_t(i)];
        design.at<double>(i, 0) = pair.right.x - cx;
        design.at<double>(i, 1) = pair.right.y - cy;
        design.at<double>(i, 2) = 1;
        target.at<double>(i) = pair.left.y - cy;
    }
    cv::Mat solution;
    cv::solve(design, target, solution, cv::DECOMP_SVD);
    Similarity fit;
    fit.a = solution.at<double>(0);
    fit.b = solution.at<double>(1);
    fit.ty = cy + solution.at<double>(2) - fit.a * cx - fit.b * cy;
    fit.tx = cx - (fit.b * cx - fit.a * cy);
    return fit;
}

double verticalResidual(const Similarity &rightToLeft, const PointPair &pair) {
    return rightToLeft.apply(pair.right).y - pair.left.y;
}

// Fits, drops the pairs far off the fit, and fits again.
Similarity fitVerticalRobustly(std::vector<PointPair> &pairs, double cx, double cy) {
    Similarity fit = fitVertical(pairs, cx, cy);
    for (int round = 0; round < 3 && pairs.size() >= 3; ++round) {
        std::vector<double> residuals;
        for (const PointPair &pair : pairs)
            residuals.push_back(std::abs(verticalResidual(fit, pair)));
        const double limit = std::max(0.3, 3 * 1.4826 * median(residuals));
        std::erase_if(pairs, [&](const PointPair &pair) {
            return std::abs(verticalResidual(fit, pair)) > limit;
        });
        if (pairs.size() < 3)
            break;
        fit = fitVertical(pairs, cx, cy);
    }
    return fit;
}

// The sub-pixel offset of a peak from the parabola through it and its two neighbours.
double peakOffset(float before, float peak, float after) {
    const double curvature = double(before) - 2.0 * peak + after;
    return curvature < 0 ? 0.5 * (double(before) - after) / curvature : 0;
}

// Where, at full size, each left point's patch is found in the right picture, looked for within
// `radius` pixels of where the estimate puts it.
std::vector<PointPair> refineAtFullSize(const cv::Mat &left, const cv::Mat &right,
                                        const std::vector<PointPair> &candidates,
                                        const Similarity &estimate, int radius) {
    const Similarity leftToRight = estimate.inverse();
    const int patch = 2 * kPatchHalf + 1;
    const int searched = patch + 2 * radius;
    std::vector<PointPair> refined;
    cv::Mat patchColour, patchGrey, areaColour, areaGrey, scores;
    for (const PointPair &candidate : candidates) {
        const int lx = int(std::lround(candidate.left.x));
        const int ly = int(std::lround(candidate.left.y));
        if (lx < kPatchHalf || ly < kPatchHalf || lx + kPatchHalf >= left.cols ||
            ly + kPatchHalf >= left.rows)
            continue;
        const Point predicted = estimate.apply(candidate.right);
        const double originX = lx + std::round(predicted.x - lx) - kPatchHalf - radius;
        const double originY = ly + std::round(predicted.y - ly) - kPatchHalf - radius;
        // The searched area must come from inside the right picture.
        bool inside = true;
        for (const Point corner :
             {Point{originX, originY}, Point{originX + searched, originY},
              Point{originX, originY + searched}, Point{originX + searched, originY + searched}}) {
            const Point source = leftToRight.apply(corner);
            inside = inside && source.x >= 0 && source.y >= 0 && source.x <= right.cols - 1 &&
                     source.y <= right.rows - 1;
        }
        if (!inside)
            continue;

        cv::cvtColor(left(cv::Rect(lx - kPatchHalf, ly - kPatchHalf, patch, patch)), patchGrey,
                     cv::COLOR_BGRA2GRAY);
        cv::Scalar mean, deviation;
        cv::meanStdDev(patchGrey, mean, deviation);
        if (deviation[0] < kMinPatchContrast)
            continue;
        const Point shifted = leftToRight.apply({originX, originY});
        const cv::Matx23d areaToRight(leftToRight.b, -leftToRight.a, shifted.x, leftToRight.a,
                                      leftToRight.b, shifted.y);
        cv::warpAffine(right, areaColour, areaToRight, cv::Size(searched, searched),
                       cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
        cv::cvtColor(areaColour, areaGrey, cv::COLOR_BGRA2GRAY);
        cv::matchTemplate(areaGrey, patchGrey, scores, cv::TM_CCOEFF_NORMED);
        double best = 0;
        cv::Point at;
        cv::minMaxLoc(scores, nullptr, &best, nullptr, &at);
        if (!(best >= kMinCorrelation) || at.x == 0 || at.y == 0 || at.x == scores.cols - 1 ||
            at.y == scores.rows - 1)
            continue;
        const double dx = peakOffset(scores.at<float>(at.y, at.x - 1), scores.at<float>(at),
                                     scores.at<float>(at.y, at.x + 1));
        const double dy = peakOffset(scores.at<float>(at.y - 1, at.x), scores.at<float>(at),
                                     scores.at<float>(at.y + 1, at.x));
        const Point found{originX + kPatchHalf + at.x + dx, originY + kPatchHalf + at.y + dy};
        refined.push_back({{double(lx), double(ly)}, leftToRight.apply(found), candidate.distance});
    }
    return refined;
}

// The best match in each cell of a grid over the left picture.
std::vector<PointPair> spreadOut(const std::vector<PointPair> &pairs, int width, int height) {
    std::vector<const PointPair *> cells(std::size_t(kGridColumns * kGridRows), nullptr);
    for (const PointPair &pair : pairs) {
        const int column = std::clamp(int(pair.left.x * kGridColumns / width), 0, kGridColumns - 1);
        const int row = std::clamp(int(pair.left.y * kGridRows / height), 0, kGridRows - 1);
        const PointPair *&cell = cells[std::size_t(row * kGridColumns + column)];
        if (!cell || pair.distance < cell->distance)
            cell = &pair;
    }
    std::vector<PointPair> spread;
    for (const PointPair *cell : cells)
        if (cell)
            spread.push_back(*cell);
    return spread;
}

std::string tooFew(int found, int needed) {
    return formatted("too few matching features to align the pictures (%.0f found, %.0f needed)",
                     found, needed);
}

} // namespace

FitResult fitAlignment(PixelView left, PixelView right, const AlignmentLimits &limits) {
    const cv::Mat leftPicture = wrap(left);
    const cv::Mat rightPicture = wrap(right);
    AlignmentFit fit;
    fit.reduction =
        std::max(1, (std::max(left.width, left.height) + kDetectionSide - 1) / kDetectionSide);
    const std::vector<PointPair> matches =
        matchFeatures(leftPicture, rightPicture, fit.reduction, fit);
    if (int(matches.size()) < limits.minPoints)
        return {{}, tooFew(int(matches.size()), limits.minPoints)};

    // RANSAC finds the matches of one depth; all depths share the vertical alignment.
    std::vector<cv::Point2f> fromRight, toLeft;
    for (const PointPair &pair : matches) {
        fromRight.emplace_back(float(pair.right.x), float(pair.right.y));
        toLeft.emplace_back(float(pair.left.x), float(pair.left.y));
    }
    std::vector<unsigned char> inliers;
    const cv::Mat ransac = cv::estimateAffinePartial2D(fromRight, toLeft, inliers, cv::RANSAC,
                                                       2.0 * fit.reduction + 1, 4000, 0.995, 10);
    const auto ransacInliers = std::count(inliers.begin(), inliers.end(), 1);
    if (ransac.empty() || ransacInliers < limits.minPoints)
        return {{}, tooFew(int(ransacInliers), limits.minPoints)};

    const double cx = (left.width - 1) / 2.0;
    const double cy = (left.height - 1) / 2.0;
    Similarity estimate{ransac.at<double>(1, 0), ransac.at<double>(0, 0), 0,
                        ransac.at<double>(1, 2)};
    estimate.tx = cx - (estimate.b * cx - estimate.a * cy);
    const auto withinLimits = [&](const Similarity &transform) -> std::string {
        if (std::abs(transform.rotationDegrees()) > limits.maxRotationDegrees)
            return formatted("the pictures are turned %.1f degrees against each other (at most "
                             "%.0f can be aligned)",
                             transform.rotationDegrees(), limits.maxRotationDegrees);
        if (std::abs(transform.scale() - 1) > limits.maxScaleChange)
            return formatted("the pictures differ %.1f%% in scale (at most %.0f%% can be aligned)",
                             100 * (transform.scale() - 1), 100 * limits.maxScaleChange);
        return {};
    };
    if (std::string refusal = withinLimits(estimate); !refusal.empty())
        return {{}, refusal};

    // Every match that agrees vertically is a candidate, whatever its depth.
    const double width = left.width;
    std::vector<PointPair> candidates;
    for (const PointPair &pair : matches)
        if (std::abs(verticalResidual(estimate, pair)) <= 2.0 * fit.reduction + 1 &&
            std::abs(estimate.apply(pair.right).x - pair.left.x) < 0.25 * width)
            candidates.push_back(pair);
    candidates = spreadOut(candidates, left.width, left.height);

    std::vector<PointPair> refined;
    int radius = 2 * fit.reduction + 3;
    for (int pass = 0; pass < 2; ++pass) {
        refined = refineAtFullSize(leftPicture, rightPicture, candidates, estimate, radius);
        if (int(refined.size()) < limits.minPoints)
            return {{}, tooFew(int(refined.size()), limits.minPoints)};
        estimate = fitVerticalRobustly(refined, cx, cy);
        radius = 3;
    }
    if (std::string refusal = withinLimits(estimate); !refusal.empty())
        return {{}, refusal};
    if (int(refined.size()) < limits.minPoints)
        return {{}, tooFew(int(refined.size()), limits.minPoints)};

    std::vector<double> residuals, disparities;
    for (const PointPair &pair : refined) {
        residuals.push_back(std::abs(verticalResidual(estimate, pair)));
        disparities.push_back(estimate.apply(pair.right).x - pair.left.x);
    }
    fit.rightToLeft = estimate;
    fit.points = int(refined.size());
    fit.verticalShift = estimate.apply({cx, cy}).y - cy;
    fit.residualVertical = median(residuals);
    // The nearest points, a few stray matches aside.
    std::sort(disparities.begin(), disparities.end());
    fit.nearestDisparity = disparities[disparities.size() / 100];
    if (fit.residualVertical > limits.maxResidual)
        return {{},
                formatted("the matching points do not fit one alignment (%.1f pixels of "
                          "vertical disparity would be left)",
                          fit.residualVertical)};
    return {fit, {}};
}

} // namespace duoptica::align
