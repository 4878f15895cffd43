#include "alignment_fit.h"

#include "kept_buffers.h"
#include "row_matches.h"

#include <opencv2/core.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <vector>

namespace duoptica::align {

namespace {

// Features are found on a copy whose longer side is at most this. SIFT doubles the copy for its
// first octave, so it sees detail down to half that copy's pixels: enough for fine, repetitive or
// soft texture where ORB on a 1000-pixel copy found too few, while a 24-megapixel picture (reduced
// four times) stays within the time a user waits for.
constexpr int kDetectionSide = 1600;
constexpr int kMaxFeatures = 4000;
// SIFT's pyramid takes some 240 bytes per pixel of the copy (350 MB for a 24-megapixel picture's):
// copies of up to this many pixels are looked at on a core each, larger ones one after the
// other, so that two large pyramids are never held at once (OpenCV spreads all but the building
// of each over the cores by itself).
constexpr int kSideBySidePixels = 600'000;
constexpr double kContrast = 0.04; // SIFT's own
// Fewer features than this on either eye and the detection runs again on copies whose contrast
// is stretched over the whole range and evened out in tiles of an eighth of the picture, with a
// threshold low enough for fog.
constexpr int kFewFeatures = 1000;
constexpr double kFaintContrast = 0.01;
constexpr double kClaheClip = 2.0;
constexpr int kClaheTiles = 8;
constexpr float kRatio = 0.8f;
// Refinement: a patch of the left picture is looked for in the right one, warped by the estimate
// so far. One match per cell of a grid keeps the points spread over the picture.
constexpr int kPatchHalf = 10;
constexpr int kGridColumns = 32;
constexpr int kGridRows = 24;
constexpr double kMinCorrelation = 0.8;
constexpr double kMinPatchContrast = 2.0;
// On the faint or noisy pictures that needed their contrast evened out, patches are smoothed
// before they are compared (a noise of the texture's own strength keeps their correlation near
// 0.6), and fainter ones are used.
constexpr double kSoftSigma = 1.2;
constexpr double kSoftMinCorrelation = 0.7;
constexpr double kSoftMinPatchContrast = 0.5;
// A keystone correction is taken only when it lowers the 95th percentile of the vertical
// disparity by this many pixels and to this share of the similarity's: a projective warp that
// only follows noise is no gain.
constexpr double kKeystoneGain = 0.1;
constexpr double kKeystoneShare = 0.8;
// The most keystone taken: the projective weight may change by this much from the centre to the
// corners. Toe-in of 1.5 degrees gives about 0.015, and far more is not a stereo pair.
constexpr double kMaxKeystone = 0.06;
// --window auto puts this share of the points in front of the screen. It measures them on a
// grid of patches this dense over a copy of at most kNearestSide pixels a side, looked for over
// the fit's disparities and kNearestReach of the picture's width past them. Only clear texture,
// clearly matched, counts: a few patches decide the window. The fit's own points serve when
// fewer than kNearestMinPatches are found.
constexpr double kNearestShare = 0.02;
constexpr int kNearestSide = 2560;
constexpr int kNearestGridColumns = 64;
constexpr int kNearestGridRows = 48;
constexpr double kNearestReach = 0.04;
constexpr double kNearestMinCorrelation = 0.9;
constexpr double kNearestMinPatchContrast = 6.0;
constexpr int kNearestMinPatches = 50;
// A pair held sideways has its depth in the vertical coordinate: its matches then agree on the
// horizontal one, and their vertical disparity spreads with the depth. Refused when
// kTurnedAgreement times as many matches agree across as along the vertical, or when the
// distance of all matches from the best fit across, at the kTurnedShare percentile (past a
// background that may hold half of them), is kTurnedSpread times smaller than from the best fit
// along the vertical, and that is a pixel of the reduced copy or more. A flat scene agrees on
// both alike.
constexpr double kTurnedAgreement = 1.2;
constexpr double kTurnedShare = 0.75;
constexpr double kTurnedSpread = 2.0;
// The residual a pair may keep grows with the noise of its points (on a small noisy picture a
// point is found no better than a pixel): up to this many times that noise, and no further than
// kMostNoisyResidual. A misfit that is not noise (a lens's distortion, an unsteady scan) grows
// smoothly toward the corners: its 95th percentile beyond kMostMisfit pixels, and this many
// times the noise, refuses the pair.
constexpr double kNoiseMargin = 1.5;
constexpr double kMostNoisyResidual = 2.0;
constexpr double kMostMisfit = 2.0;
constexpr double kMisfitOverNoise = 4.0;
// Points found on evened-out copies and refined on smoothed patches are less sure of their
// places: twice as many are needed.
constexpr int kSoftPointsFactor = 2;

struct PointPair {
    Point left;
    Point right;
    float distance = 0; // descriptor distance, smaller is better
};

// Points for the vertical fit are centred on the picture and divided by half its longer side, so
// that the projective terms are well conditioned.
struct Frame {
    double cx = 0;
    double cy = 0;
    double half = 1;
    Point in(Point p) const { return {(p.x - cx) / half, (p.y - cy) / half}; }
};

// In the frame's units, the right point (x, y) lands at y' = (g0 x + g1 y + g2) / w in the left
// picture, w = 1 + g3 x + g4 y; a similarity has g3 = g4 = 0.
struct VerticalModel {
    std::array<double, 5> g{0, 1, 0, 0, 0};

    double weight(Point q) const { return 1 + g[3] * q.x + g[4] * q.y; }
    double y(Point q) const { return (g[0] * q.x + g[1] * q.y + g[2]) / weight(q); }
    // The similarity applied after the projective part: y' = (a x + b y) / w + t.
    double t() const { return g[2]; }
    double a() const { return g[0] - g[2] * g[3]; }
    double b() const { return g[1] - g[2] * g[4]; }
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

// FNV-1a over a grey picture's rows, carrying on from `hash`.
std::uint64_t hashed(const cv::Mat &grey, std::uint64_t hash) {
    for (int y = 0; y < grey.rows; ++y) {
        const std::uint8_t *row = grey.ptr<std::uint8_t>(y);
        for (int x = 0; x < grey.cols; ++x)
            hash = (hash ^ row[x]) * 0x100000001b3u;
    }
    return hash;
}

double percentile(std::vector<double> values, double share) {
    if (values.empty())
        return 0;
    const auto at = values.begin() + std::ptrdiff_t(share * double(values.size() - 1) + 0.5);
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

// The 2nd percentile of the disparities, and never one of the two nearest: among the few points
// of a soft or glossy pair, those are as likely stray as near.
double nearest(std::vector<double> values) {
    const double third = values.size() > 2 ? 2.0 / double(values.size() - 1) : 0;
    return percentile(std::move(values), std::max(kNearestShare, third));
}

double median(std::vector<double> values) {
    return percentile(std::move(values), 0.5);
}

// How many times a picture is reduced so that its longer side is at most `side`.
int reductionFor(int width, int height, int side) {
    return std::max(1, (std::max(width, height) + side - 1) / side);
}

// Each eye's features on its reduced grey copy.
struct EyeFeatures {
    cv::Mat grey[2];
    std::vector<cv::KeyPoint> keys[2];
    cv::Mat descriptors[2];
};

EyeFeatures detectFeatures(const cv::Mat &left, const cv::Mat &right, int reduction,
                           AlignmentFit &fit) {
    const KeptBuffers pyramidsOfOneSize;
    EyeFeatures found;
    cv::Mat(&grey)[2] = found.grey;
    std::vector<cv::KeyPoint>(&keys)[2] = found.keys;
    cv::Mat(&descriptors)[2] = found.descriptors;
    const auto detectEye = [&](int eye, bool enhanced) {
        if (grey[eye].empty())
            grey[eye] = reducedGrey(eye == 0 ? left : right, reduction);
        cv::Mat seen = grey[eye];
        if (enhanced) {
            cv::Mat stretched;
            cv::equalizeHist(grey[eye], stretched);
            cv::createCLAHE(kClaheClip, cv::Size(kClaheTiles, kClaheTiles))->apply(stretched, seen);
        }
        cv::SIFT::create(kMaxFeatures, 3, enhanced ? kFaintContrast : kContrast)
            ->detectAndCompute(seen, cv::noArray(), keys[eye], descriptors[eye]);
    };
    const cv::Size copy(left.cols / reduction, left.rows / reduction);
    const bool sideBySide = copy.area() <= kSideBySidePixels;
    const auto detect = [&](bool enhanced) {
        if (sideBySide) {
            cv::parallel_for_(cv::Range(0, 2), [&](const cv::Range &eyes) {
                for (int eye = eyes.start; eye < eyes.end; ++eye)
                    detectEye(eye, enhanced);
            });
            return;
        }
        for (int eye = 0; eye < 2; ++eye)
            detectEye(eye, enhanced);
    };
    detect(false);
    // A dark, foggy or soft picture leaves SIFT few points above its contrast threshold: then
    // both eyes are looked at again as a careful user would, with the contrast evened out
    // locally and a lower threshold. Only the detection sees the evened-out copies.
    fit.enhanced = std::min(keys[0].size(), keys[1].size()) < std::size_t(kFewFeatures);
    if (fit.enhanced)
        detect(true);
    fit.featuresLeft = int(keys[0].size());
    fit.featuresRight = int(keys[1].size());
    return found;
}

// The mutual best matches of right features and left ones that pass the ratio test, in
// full-size pixels.
std::vector<PointPair> matchFeatures(const cv::Mat &left, const cv::Mat &right, int reduction,
                                     AlignmentFit &fit) {
    const EyeFeatures features = detectFeatures(left, right, reduction, fit);
    const cv::Mat(&grey)[2] = features.grey;
    const cv::Mat &greyLeft = grey[0];
    const std::vector<cv::KeyPoint> &keysLeft = features.keys[0], &keysRight = features.keys[1];
    const cv::Mat &descriptorsLeft = features.descriptors[0],
                  &descriptorsRight = features.descriptors[1];
    if (keysLeft.size() < 2 || keysRight.size() < 2)
        return {};

    // A k-d tree finds the nearest descriptors far faster than trying every pair. Its trees are
    // drawn from the thread's generator, which carries on from whatever ran on the thread before:
    // seeded from the pair itself, the same pair gives the same matches alone, in a batch, on any
    // thread. The trees over the left eye's features are drawn first, those over the right's from
    // where that left the generator, as one after the other; the searches, which draw nothing,
    // then run on both cores.
    cv::theRNG().state = hashed(grey[1], hashed(grey[0], 0xcbf29ce484222325u)) | 1;
    std::vector<std::vector<cv::DMatch>> forward, backward;
    cv::FlannBasedMatcher forwardMatcher, backwardMatcher;
    forwardMatcher.add(descriptorsLeft);
    forwardMatcher.train();
    const std::uint64_t afterForward = cv::theRNG().state;
    cv::parallel_for_(cv::Range(0, 2), [&](const cv::Range &directions) {
        for (int direction = directions.start; direction < directions.end; ++direction) {
            if (direction == 0) {
                forwardMatcher.knnMatch(descriptorsRight, forward, 2);
                continue;
            }
            cv::theRNG().state = afterForward;
            backwardMatcher.knnMatch(descriptorsLeft, descriptorsRight, backward, 1);
        }
    });
    const double scaleX = double(left.cols) / greyLeft.cols;
    const double scaleY = double(left.rows) / greyLeft.rows;
    const auto fullSize = [&](cv::Point2f p) {
        return Point{(p.x + 0.5) * scaleX - 0.5, (p.y + 0.5) * scaleY - 0.5};
    };
    std::vector<PointPair> matches;
    for (const std::vector<cv::DMatch> &best : forward) {
        if (best.size() < 2 || best[0].distance >= kRatio * best[1].distance)
            continue;
        const std::vector<cv::DMatch> &back = backward[std::size_t(best[0].trainIdx)];
        if (back.empty() || back[0].trainIdx != best[0].queryIdx)
            continue;
        matches.push_back({fullSize(keysLeft[std::size_t(best[0].trainIdx)].pt),
                           fullSize(keysRight[std::size_t(best[0].queryIdx)].pt),
                           best[0].distance});
    }
    fit.ratioMatches = int(matches.size());
    return matches;
}

// Least squares on y' w = g0 x + g1 y + g2 - g3 x y' - g4 y y', each row divided by the weight w
// of `previous` so that it measures the vertical disparity itself.
std::optional<VerticalModel> fitVertical(const std::vector<PointPair> &pairs, const Frame &frame,
                                         bool keystone, const VerticalModel &previous = {}) {
    const int unknowns = keystone ? 5 : 3;
    if (int(pairs.size()) < unknowns)
        return {};
    cv::Mat design(int(pairs.size()), unknowns, CV_64F);
    cv::Mat target(int(pairs.size()), 1, CV_64F);
    for (int i = 0; i < int(pairs.size()); ++i) {
        const Point r = frame.in(pairs[std::size_t(i)].right);
        const double y = frame.in(pairs[std::size_t(i)].left).y;
        const double w = keystone ? previous.weight(r) : 1;
        const double row[5] = {r.x / w, r.y / w, 1 / w, -r.x * y / w, -r.y * y / w};
        for (int j = 0; j < unknowns; ++j)
            design.at<double>(i, j) = row[j];
        target.at<double>(i) = y / w;
    }
    cv::Mat solution;
    if (!cv::solve(design, target, solution, cv::DECOMP_SVD))
        return {};
    VerticalModel model;
    for (int j = 0; j < unknowns; ++j)
        model.g[std::size_t(j)] = solution.at<double>(j);
    return model;
}

double verticalResidual(const VerticalModel &model, const Frame &frame, const PointPair &pair) {
    return (model.y(frame.in(pair.right)) - frame.in(pair.left).y) * frame.half;
}

Similarity similarityOf(const VerticalModel &model, const Frame &frame) {
    const double a = model.a(), b = model.b();
    return {a, b, frame.cx - (b * frame.cx - a * frame.cy),
            frame.cy + model.t() * frame.half - (a * frame.cx + b * frame.cy)};
}

// The whole map in pixels: the projective part, then the similarity whose horizontal row
// follows from its vertical one and keeps the centre in place horizontally.
Homography homographyOf(const VerticalModel &model, const Frame &frame) {
    const auto &g = model.g;
    const Homography inFrame{{model.b(), -model.a(), 0, g[0], g[1], g[2], g[3], g[4], 1}};
    const Homography toFrame{{1 / frame.half, 0, -frame.cx / frame.half, 0, 1 / frame.half,
                              -frame.cy / frame.half, 0, 0, 1}};
    const Homography toPixels{{frame.half, 0, frame.cx, 0, frame.half, frame.cy, 0, 0, 1}};
    return toFrame.then(inFrame).then(toPixels);
}

// A model worth following: not far beyond the limits, so that a pair turned too much is still
// fitted and refused for what it is, and a keystone that keeps the weight positive and moderate
// over the whole picture.
bool plausible(const VerticalModel &model, const Frame &frame, const AlignmentLimits &limits) {
    const Similarity similarity = similarityOf(model, frame);
    const double reachX = frame.cx / frame.half, reachY = frame.cy / frame.half;
    return std::abs(similarity.rotationDegrees()) <= 3 * limits.maxRotationDegrees &&
           std::abs(similarity.scale() - 1) <= 3 * limits.maxScaleChange &&
           std::abs(model.g[3]) * reachX + std::abs(model.g[4]) * reachY <= kMaxKeystone;
}

struct Consensus {
    VerticalModel model;
    int count = 0;
};

// RANSAC on the vertical coordinate alone: every depth shares the vertical alignment, so the
// matches of the whole scene agree, not only those of one plane.
Consensus findConsensus(const std::vector<PointPair> &matches, const Frame &frame, bool keystone,
                        double threshold, const AlignmentLimits &limits) {
    const int sampleSize = keystone ? 5 : 3;
    const int count = int(matches.size());
    Consensus best;
    if (count < sampleSize)
        return best;
    const auto agreeing = [&](const VerticalModel &model) {
        int agree = 0;
        for (const PointPair &pair : matches)
            agree += std::abs(verticalResidual(model, frame, pair)) <= threshold;
        return agree;
    };
    cv::RNG random(0x5eed);
    std::vector<PointPair> sample(static_cast<std::size_t>(sampleSize));
    int needed = keystone ? 4000 : 1500;
    for (int iteration = 0; iteration < needed; ++iteration) {
        std::array<int, 5> picks{};
        for (int i = 0; i < sampleSize; ++i) {
            int pick = random.uniform(0, count);
            while (std::find(picks.begin(), picks.begin() + i, pick) != picks.begin() + i)
                pick = random.uniform(0, count);
            picks[std::size_t(i)] = pick;
            sample[std::size_t(i)] = matches[std::size_t(pick)];
        }
        const std::optional<VerticalModel> model = fitVertical(sample, frame, keystone);
        if (!model || !plausible(*model, frame, limits))
            continue;
        const int agree = agreeing(*model);
        if (agree <= best.count)
            continue;
        best = {*model, agree};
        // Enough samples to have drawn one clean sample with a probability of 99.5 %.
        const double clean = std::pow(double(agree) / count, sampleSize);
        if (clean >= 1)
            break;
        needed = std::min(needed, int(std::ceil(std::log(0.005) / std::log(1 - clean))));
    }
    if (best.count < sampleSize)
        return best;
    std::vector<PointPair> inliers;
    for (const PointPair &pair : matches)
        if (std::abs(verticalResidual(best.model, frame, pair)) <= threshold)
            inliers.push_back(pair);
    if (const auto refit = fitVertical(inliers, frame, keystone, best.model);
        refit && plausible(*refit, frame, limits) && agreeing(*refit) >= best.count)
        best = {*refit, agreeing(*refit)};
    return best;
}

// Fits, drops the pairs far off the fit, and fits again. Marks the pairs kept.
std::optional<VerticalModel> fitRobustly(const std::vector<PointPair> &pairs, const Frame &frame,
                                         bool keystone, std::vector<char> &kept) {
    kept.assign(pairs.size(), 1);
    std::vector<PointPair> used = pairs;
    std::optional<VerticalModel> fit = fitVertical(used, frame, keystone);
    for (int round = 0; fit && round < 3; ++round) {
        std::vector<double> residuals;
        for (const PointPair &pair : used)
            residuals.push_back(std::abs(verticalResidual(*fit, frame, pair)));
        const double limit = std::max(0.3, 3 * 1.4826 * median(residuals));
        used.clear();
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            kept[i] = std::abs(verticalResidual(*fit, frame, pairs[i])) <= limit;
            if (kept[i])
                used.push_back(pairs[i]);
        }
        const std::optional<VerticalModel> refit = fitVertical(used, frame, keystone, *fit);
        if (!refit)
            break;
        fit = refit;
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
                                        const Homography &estimate, int radius, bool soft) {
    const Homography leftToRight = estimate.inverse();
    const int patch = 2 * kPatchHalf + 1;
    const int searched = patch + 2 * radius;
    std::vector<PointPair> refined;
    cv::Mat patchGrey, areaColour, areaGrey, scores;
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
        if (deviation[0] < (soft ? kSoftMinPatchContrast : kMinPatchContrast))
            continue;
        const Homography areaToLeft{{1, 0, originX, 0, 1, originY, 0, 0, 1}};
        const std::array<double, 9> &m = areaToLeft.then(leftToRight).m;
        if (estimate.isAffine())
            cv::warpAffine(right, areaColour, cv::Matx23d(m[0], m[1], m[2], m[3], m[4], m[5]),
                           cv::Size(searched, searched), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                           cv::BORDER_REPLICATE);
        else
            cv::warpPerspective(right, areaColour, cv::Matx33d(m.data()),
                                cv::Size(searched, searched),
                                cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
        cv::cvtColor(areaColour, areaGrey, cv::COLOR_BGRA2GRAY);
        if (soft) {
            cv::GaussianBlur(patchGrey, patchGrey, cv::Size(), kSoftSigma);
            cv::GaussianBlur(areaGrey, areaGrey, cv::Size(), kSoftSigma);
        }
        cv::matchTemplate(areaGrey, patchGrey, scores, cv::TM_CCOEFF_NORMED);
        double best = 0;
        cv::Point at;
        cv::minMaxLoc(scores, nullptr, &best, nullptr, &at);
        if (!(best >= (soft ? kSoftMinCorrelation : kMinCorrelation)) || at.x == 0 || at.y == 0 ||
            at.x == scores.cols - 1 || at.y == scores.rows - 1)
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

// The pairs with x and y exchanged, in a frame exchanged alike.
std::vector<PointPair> transposed(const std::vector<PointPair> &pairs) {
    std::vector<PointPair> turned;
    turned.reserve(pairs.size());
    for (const PointPair &pair : pairs)
        turned.push_back({{pair.left.y, pair.left.x}, {pair.right.y, pair.right.x}, pair.distance});
    return turned;
}

// How far a point's residual is off by noise alone: a misfit of the model changes smoothly over
// the picture, so two neighbours share it and the difference of their residuals is their noise.
// Scaled to compare with the median of the residuals themselves.
double residualNoise(const std::vector<PointPair> &pairs,
                     const std::vector<double> &signedResiduals) {
    std::vector<double> differences;
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        double nearest = std::numeric_limits<double>::infinity();
        std::size_t neighbour = i;
        for (std::size_t j = 0; j < pairs.size(); ++j) {
            const double dx = pairs[j].left.x - pairs[i].left.x;
            const double dy = pairs[j].left.y - pairs[i].left.y;
            if (j != i && dx * dx + dy * dy < nearest) {
                nearest = dx * dx + dy * dy;
                neighbour = j;
            }
        }
        if (neighbour != i)
            differences.push_back(std::abs(signedResiduals[i] - signedResiduals[neighbour]));
    }
    return median(differences) / std::sqrt(2.0);
}

std::string tooFew(int found, int needed) {
    return formatted("too few matching features to align the pictures (%.0f found, %.0f needed)",
                     found, needed);
}

std::string beyondLimits(const Similarity &transform, const AlignmentLimits &limits) {
    if (std::abs(transform.rotationDegrees()) > limits.maxRotationDegrees)
        return formatted("the pictures are turned %.1f degrees against each other (at most "
                         "%.0f can be aligned)",
                         transform.rotationDegrees(), limits.maxRotationDegrees);
    if (std::abs(transform.scale() - 1) > limits.maxScaleChange)
        return formatted("the pictures differ %.1f%% in scale (at most %.0f%% can be aligned)",
                         100 * (transform.scale() - 1), 100 * limits.maxScaleChange);
    return {};
}

} // namespace

namespace {

// A refusal when the matches agree better across than along: a pair turned 90 degrees, whose
// depth runs vertically. Empty otherwise.
std::string turnedRefusal(const std::vector<PointPair> &matches, const Frame &frame,
                          const Consensus &similar, const Consensus &across,
                          const AlignmentLimits &limits, int reduction) {
    const Frame turnedFrame{frame.cy, frame.cx, frame.half};
    const auto spread = [&](const VerticalModel &model, const Frame &in, bool turned) {
        std::vector<double> distances;
        for (const PointPair &pair : matches)
            distances.push_back(std::abs(verticalResidual(
                model, in,
                turned ? PointPair{{pair.left.y, pair.left.x}, {pair.right.y, pair.right.x}}
                       : pair)));
        return percentile(distances, kTurnedShare);
    };
    if (across.count < limits.minPoints)
        return {};
    const double vertical = spread(similar.model, frame, false);
    const double horizontal = spread(across.model, turnedFrame, true);
    if (across.count > kTurnedAgreement * similar.count ||
        (vertical >= reduction && horizontal * kTurnedSpread < vertical))
        return formatted("the pair looks turned 90 degrees: its depth runs "
                         "vertically (the matches' vertical disparity spreads %.1f "
                         "pixels, the horizontal %.1f); turn both pictures upright "
                         "first",
                         vertical, horizontal);
    return {};
}

// The candidates matched again at full size, twice: first around where the coarse model puts
// them, then around where the model refitted to the first pass puts them. Stops early, with what
// it has, when fewer than minPoints remain.
std::vector<PointPair> refineTwice(const cv::Mat &leftPicture, const cv::Mat &rightPicture,
                                   const std::vector<PointPair> &candidates, VerticalModel model,
                                   const Frame &frame, bool keystoneFirst, const AlignmentFit &fit,
                                   const AlignmentLimits &limits, int minPoints) {
    std::vector<PointPair> refined;
    std::vector<char> kept;
    int radius = 2 * fit.reduction + 3;
    for (int pass = 0; pass < 2; ++pass) {
        refined = refineAtFullSize(leftPicture, rightPicture, candidates,
                                   homographyOf(model, frame), radius, fit.enhanced);
        if (int(refined.size()) < minPoints)
            return refined;
        const auto refit = fitRobustly(refined, frame, keystoneFirst, kept);
        if (refit && plausible(*refit, frame, limits))
            model = *refit;
        radius = 3;
    }
    return refined;
}

// x right - x left of each pair, once `map` lays the right point onto the left picture.
std::vector<double> disparitiesUnder(const Homography &map, const std::vector<PointPair> &pairs) {
    std::vector<double> disparities;
    for (const PointPair &pair : pairs)
        disparities.push_back(map.apply(pair.right).x - pair.left.x);
    return disparities;
}

// Patches of the reduced copies looked for along their rows where `estimate` lays the right
// picture, the search's disparities given in full-size pixels; the matches in full-size pixels.
std::vector<PointPair> matchedAlongRows(const cv::Mat &leftPicture, const cv::Mat &rightPicture,
                                        const Homography &estimate, int reduction,
                                        RowSearch search) {
    const cv::Mat greyLeft = reducedGrey(leftPicture, reduction);
    const double scaleX = double(leftPicture.cols) / greyLeft.cols;
    const double scaleY = double(leftPicture.rows) / greyLeft.rows;
    const Homography toGrey{
        {1 / scaleX, 0, 0.5 / scaleX - 0.5, 0, 1 / scaleY, 0.5 / scaleY - 0.5, 0, 0, 1}};
    const Homography toFull = toGrey.inverse();
    search.rightToLeft = toFull.then(estimate).then(toGrey);
    search.nearest /= scaleX;
    search.farthest /= scaleX;
    std::vector<PointPair> found;
    for (const RowMatch &match :
         matchAlongRows(greyLeft, reducedGrey(rightPicture, reduction), search))
        found.push_back({toFull.apply(match.left), toFull.apply(match.right),
                         std::numeric_limits<float>::max()});
    return found;
}

// Candidates for a pair whose matches refined too few points: patches found along the rows of
// the reduced copies where the model lays the right picture, within the disparities of the
// candidates so far (and a quarter of their span beyond), behind those in every grid cell. Soft
// pictures take the refinement's lower correlation.
std::vector<PointPair> alongRows(const cv::Mat &leftPicture, const cv::Mat &rightPicture,
                                 const std::vector<PointPair> &candidates,
                                 const VerticalModel &model, const Frame &frame, int reduction,
                                 bool soft) {
    const Homography estimate = homographyOf(model, frame);
    const std::vector<double> disparities = disparitiesUnder(estimate, candidates);
    const auto [nearest, farthest] = std::minmax_element(disparities.begin(), disparities.end());
    const double margin = 0.25 * (*farthest - *nearest) + 2 * reduction;
    return matchedAlongRows(leftPicture, rightPicture, estimate, reduction,
                            {.rightToLeft = {},
                             .nearest = *nearest - margin,
                             .farthest = *farthest + margin,
                             .minScore = soft ? kSoftMinCorrelation : kMinCorrelation,
                             .columns = kGridColumns,
                             .rows = kGridRows});
}

// Where --window auto finds the nearest points. Those of the fit lie where SIFT found corners,
// seldom where a viewer sees the window broken (a dark box in front, a frame printed round each
// eye): the textured area is sampled instead, a patch per cell of a dense grid looked for along
// its row where the fit lays the right picture, over the points' disparities and well past them
// either way. The nearest 2 % of those patches, when enough were found.
void measureNearestArea(const cv::Mat &leftPicture, const cv::Mat &rightPicture,
                        const std::vector<PointPair> &agreed, AlignmentFit &fit) {
    const std::vector<double> disparities = disparitiesUnder(fit.rightToLeft, agreed);
    const auto [closest, farthest] = std::minmax_element(disparities.begin(), disparities.end());
    const double width = leftPicture.cols;
    const double reach = std::max(0.25 * (*farthest - *closest), kNearestReach * width);
    const int reduction = reductionFor(leftPicture.cols, leftPicture.rows, kNearestSide);
    const std::vector<PointPair> patches =
        matchedAlongRows(leftPicture, rightPicture, fit.rightToLeft, reduction,
                         {.rightToLeft = {},
                          .nearest = std::max(*closest - reach, -0.25 * width),
                          .farthest = std::min(*farthest + reach, 0.25 * width),
                          .minScore = kNearestMinCorrelation,
                          .minContrast = kNearestMinPatchContrast,
                          .columns = kNearestGridColumns,
                          .rows = kNearestGridRows,
                          .cutAtSides = true});
    if (int(patches.size()) < kNearestMinPatches)
        return;
    fit.nearestDisparity = nearest(disparitiesUnder(fit.rightToLeft, patches));
    fit.nearestRawDisparity = nearest(disparitiesUnder(Homography{}, patches));
}

// The refined points, and where too few features matched though enough agree on a first
// estimate (a wide baseline, glossy surfaces whose highlights move, a softer eye), those the
// estimate finds along the rows besides.
std::vector<PointPair> refineOrSearchRows(const cv::Mat &leftPicture, const cv::Mat &rightPicture,
                                          const std::vector<PointPair> &candidates,
                                          const VerticalModel &estimate, const Frame &frame,
                                          bool keystoneFirst, AlignmentFit &fit,
                                          const AlignmentLimits &limits, int minPoints) {
    std::vector<PointPair> refined = refineTwice(leftPicture, rightPicture, candidates, estimate,
                                                 frame, keystoneFirst, fit, limits, minPoints);
    if (int(refined.size()) >= minPoints)
        return refined;
    std::vector<PointPair> more = alongRows(leftPicture, rightPicture, candidates, estimate, frame,
                                            fit.reduction, fit.enhanced);
    fit.rowMatches = int(more.size());
    more.insert(more.begin(), candidates.begin(), candidates.end());
    return refineTwice(leftPicture, rightPicture,
                       spreadOut(more, leftPicture.cols, leftPicture.rows), estimate, frame,
                       keystoneFirst, fit, limits, minPoints);
}

// The similarity, or the keystone correction where it fits the corners clearly better, and into
// *agreed the points either one agrees with, on which both are judged, the corners included;
// nothing when no similarity fits.
std::optional<VerticalModel> chooseCorrection(const std::vector<PointPair> &refined,
                                              const Frame &frame, const AlignmentLimits &limits,
                                              AlignmentFit &fit, std::vector<PointPair> &agreed) {
    std::vector<char> keptBySimilarity, keptByKeystone;
    const std::optional<VerticalModel> similarity =
        fitRobustly(refined, frame, false, keptBySimilarity);
    std::optional<VerticalModel> keystone = fitRobustly(refined, frame, true, keptByKeystone);
    if (!similarity)
        return std::nullopt;
    if (keystone && !plausible(*keystone, frame, limits))
        keystone.reset();
    for (std::size_t i = 0; i < refined.size(); ++i)
        if (keptBySimilarity[i] || (keystone && keptByKeystone[i]))
            agreed.push_back(refined[i]);
    const auto residualsOf = [&](const VerticalModel &candidate) {
        std::vector<double> residuals;
        for (const PointPair &pair : agreed)
            residuals.push_back(std::abs(verticalResidual(candidate, frame, pair)));
        return residuals;
    };
    fit.similarityResidual95 = percentile(residualsOf(*similarity), 0.95);
    if (keystone) {
        const double keystone95 = percentile(residualsOf(*keystone), 0.95);
        if (keystone95 <= kKeystoneShare * fit.similarityResidual95 &&
            keystone95 <= fit.similarityResidual95 - kKeystoneGain) {
            fit.correction = Correction::Keystone;
            return keystone;
        }
    }
    return similarity;
}

// Measures how well the model fits the points it agreed with, and where the nearest of them
// lie; a refusal when they do not fit one alignment, empty otherwise.
std::string judgeResiduals(AlignmentFit &fit, const VerticalModel &model, const Frame &frame,
                           const std::vector<PointPair> &agreed, const AlignmentLimits &limits) {
    std::vector<double> residuals, signedResiduals;
    for (const PointPair &pair : agreed) {
        signedResiduals.push_back(verticalResidual(model, frame, pair));
        residuals.push_back(std::abs(signedResiduals.back()));
    }
    fit.verticalShift = fit.rightToLeft.apply({frame.cx, frame.cy}).y - frame.cy;
    fit.residualVertical = median(residuals);
    fit.residualVertical95 = percentile(residuals, 0.95);
    fit.residualNoise = residualNoise(agreed, signedResiduals);
    // The nearest points: the 2nd percentile of the points that fit, so that no single stray
    // match (one that agrees vertically but not in depth) decides the window.
    fit.nearestDisparity = nearest(disparitiesUnder(fit.rightToLeft, agreed));
    fit.nearestRawDisparity = nearest(disparitiesUnder(Homography{}, agreed));
    fit.measured = true;
    const double allowed = std::max(limits.maxResidual,
                                    std::min(kNoiseMargin * fit.residualNoise, kMostNoisyResidual));
    if (fit.residualVertical > allowed)
        return formatted("the matching points do not fit one alignment (%.1f pixels of "
                         "vertical disparity would be left)",
                         fit.residualVertical);
    if (fit.residualVertical95 > kMostMisfit &&
        fit.residualVertical95 > kMisfitOverNoise * fit.residualNoise)
        return formatted("the matching points do not fit one alignment (%.1f pixels of "
                         "vertical disparity would be left toward the corners, where "
                         "their noise is %.2f)",
                         fit.residualVertical95, fit.residualNoise);
    return {};
}

} // namespace

FitResult fitAlignment(PixelView left, PixelView right, const AlignmentLimits &limits,
                       NearestFrom nearestFrom) {
    const cv::Mat leftPicture = wrap(left);
    const cv::Mat rightPicture = wrap(right);
    FitResult result;
    AlignmentFit &fit = result.attempt;
    const auto refused = [&](std::string why) {
        result.refusal = std::move(why);
        return result;
    };
    fit.reduction = reductionFor(left.width, left.height, kDetectionSide);
    std::vector<PointPair> matches = matchFeatures(leftPicture, rightPicture, fit.reduction, fit);
    // Points a quarter of the picture apart horizontally are no depth of one scene.
    const double width = left.width;
    std::erase_if(matches, [&](const PointPair &pair) {
        return std::abs(pair.right.x - pair.left.x) >= 0.25 * width;
    });
    const int minPoints = fit.enhanced ? kSoftPointsFactor * limits.minPoints : limits.minPoints;
    if (int(matches.size()) < minPoints)
        return refused(tooFew(int(matches.size()), minPoints));

    const Frame frame{(left.width - 1) / 2.0, (left.height - 1) / 2.0,
                      std::max(left.width, left.height) / 2.0};
    const double threshold = 2.0 * fit.reduction + 1;
    const Consensus similar = findConsensus(matches, frame, false, threshold, limits);
    const Consensus keystoned = findConsensus(matches, frame, true, threshold, limits);
    const Frame turnedFrame{frame.cy, frame.cx, frame.half};
    const Consensus across =
        findConsensus(transposed(matches), turnedFrame, false, threshold, limits);
    if (std::string refusal = turnedRefusal(matches, frame, similar, across, limits, fit.reduction);
        !refusal.empty())
        return refused(refusal);
    const bool keystoneFirst = keystoned.count > similar.count;
    const Consensus &consensus = keystoneFirst ? keystoned : similar;
    fit.consistentMatches = consensus.count;
    if (consensus.count < minPoints)
        return refused(tooFew(consensus.count, minPoints));
    if (std::string refusal = beyondLimits(similarityOf(consensus.model, frame), limits);
        !refusal.empty())
        return refused(refusal);

    std::vector<PointPair> candidates;
    for (const PointPair &pair : matches)
        if (std::abs(verticalResidual(consensus.model, frame, pair)) <= threshold)
            candidates.push_back(pair);
    candidates = spreadOut(candidates, left.width, left.height);

    const std::vector<PointPair> refined =
        refineOrSearchRows(leftPicture, rightPicture, candidates, consensus.model, frame,
                           keystoneFirst, fit, limits, minPoints);
    if (int(refined.size()) < minPoints)
        return refused(tooFew(int(refined.size()), minPoints));

    std::vector<PointPair> agreed;
    const std::optional<VerticalModel> chosen =
        chooseCorrection(refined, frame, limits, fit, agreed);
    if (!chosen)
        return refused(tooFew(int(refined.size()), minPoints));
    const VerticalModel &model = *chosen;

    fit.similarity = similarityOf(model, frame);
    fit.rightToLeft = homographyOf(model, frame);
    fit.points = int(agreed.size());
    if (std::string refusal = beyondLimits(fit.similarity, limits); !refusal.empty())
        return refused(refusal);
    if (fit.points < minPoints)
        return refused(tooFew(fit.points, minPoints));

    std::string refusal = judgeResiduals(fit, model, frame, agreed, limits);
    // Also for a refused pair, whose window may still be placed as it is.
    if (nearestFrom == NearestFrom::TexturedArea)
        measureNearestArea(leftPicture, rightPicture, agreed, fit);
    if (!refusal.empty())
        return refused(refusal);
    result.fit = fit;
    return result;
}

} // namespace duoptica::align
