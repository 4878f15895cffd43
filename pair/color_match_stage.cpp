#include "color_match_stage.h"

#include "combine_pictures.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace duoptica {

namespace {

// The shift is measured on a copy this many pixels on its longer side: enough for a shift
// of a few pixels at full size, quick for a 24-megapixel pair.
constexpr double kCorrelationSide = 512;

using Histogram = std::array<double, 256>;
using ChannelHistograms = std::array<Histogram, 3>;

cv::Mat wrap(const QImage &picture) {
    return {picture.height(), picture.width(), CV_8UC4, const_cast<uchar *>(picture.constBits()),
            std::size_t(picture.bytesPerLine())};
}

cv::Mat reducedGrey(const QImage &picture, cv::Size size) {
    cv::Mat reduced;
    cv::resize(wrap(picture), reduced, size, 0, 0, cv::INTER_AREA);
    cv::Mat grey;
    cv::cvtColor(reduced, grey, cv::COLOR_BGRA2GRAY);
    cv::Mat real;
    grey.convertTo(real, CV_64F);
    return real;
}

ChannelHistograms histograms(const QImage &picture, const QRect &area) {
    ChannelHistograms counts{};
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
        for (int x = area.left(); x <= area.right(); ++x) {
            ++counts[0][qRed(row[x])];
            ++counts[1][qGreen(row[x])];
            ++counts[2][qBlue(row[x])];
        }
    }
    return counts;
}

// Each level of the source spans a stretch of its cumulative distribution; its middle is sent
// to the reference level where the reference's distribution, spread evenly over each level's
// width, reaches the same fraction. Equal histograms give the identity.
ToneCurve matchedCurve(const Histogram &source, const Histogram &reference) {
    std::array<double, 257> referenceBelow{}; // the fraction of the reference below each level
    double referenceTotal = 0, sourceTotal = 0;
    for (int level = 0; level < 256; ++level) {
        referenceTotal += reference[level];
        sourceTotal += source[level];
        referenceBelow[level + 1] = referenceTotal;
    }
    ToneCurve curve{};
    if (referenceTotal <= 0 || sourceTotal <= 0) {
        for (int level = 0; level < 256; ++level)
            curve[level] = std::uint8_t(level);
        return curve;
    }
    for (double &below : referenceBelow)
        below /= referenceTotal;
    double sourceBelow = 0;
    int referenceLevel = 0;
    for (int level = 0; level < 256; ++level) {
        const double middle = (sourceBelow + source[level] / 2) / sourceTotal;
        sourceBelow += source[level];
        while (referenceLevel < 255 && referenceBelow[referenceLevel + 1] < middle)
            ++referenceLevel;
        const double width = referenceBelow[referenceLevel + 1] - referenceBelow[referenceLevel];
        const double within =
            width > 0 ? std::clamp((middle - referenceBelow[referenceLevel]) / width, 0.0, 1.0)
                      : 0.5;
        curve[level] =
            std::uint8_t(std::clamp(std::lround(referenceLevel - 0.5 + within), 0L, 255L));
    }
    // Levels darker or brighter than any in the shared area may still show outside it: they
    // go in proportion towards black and white rather than all onto the ends of the scale.
    int lowest = 0, highest = 255;
    while (source[lowest] <= 0)
        ++lowest;
    while (source[highest] <= 0)
        --highest;
    for (int level = 0; level < lowest; ++level)
        curve[level] = std::uint8_t(std::lround(double(curve[lowest]) * level / lowest));
    for (int level = highest + 1; level < 256; ++level)
        curve[level] = std::uint8_t(std::lround(
            curve[highest] + (255.0 - curve[highest]) * (level - highest) / (255 - highest)));
    return curve;
}

void applyCurves(QImage &picture, const ChannelCurves &curves) {
    for (int y = 0; y < picture.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x)
            row[x] =
                qRgb(curves[0][qRed(row[x])], curves[1][qGreen(row[x])], curves[2][qBlue(row[x])]);
    }
}

} // namespace

SharedArea sharedArea(const QImage &left, const QImage &right, bool aligned) {
    const QRect whole(QPoint(0, 0), left.size());
    if (aligned)
        return {whole, whole};

    const double factor = std::min(1.0, kCorrelationSide / std::max(left.width(), left.height()));
    const cv::Size reduced(std::max(1, int(std::lround(left.width() * factor))),
                           std::max(1, int(std::lround(left.height() * factor))));
    int dx = 0, dy = 0;
    if (reduced.width > 8 && reduced.height > 8) {
        cv::Mat window;
        cv::createHanningWindow(window, reduced, CV_64F);
        const cv::Point2d shift =
            cv::phaseCorrelate(reducedGrey(left, reduced), reducedGrey(right, reduced), window);
        const double x = shift.x * left.width() / reduced.width;
        const double y = shift.y * left.height() / reduced.height;
        // A featureless pair gives no shift at all, and a larger one is no stereo pair's: the
        // correlation locked onto something else.
        if (std::isfinite(x) && std::isfinite(y) && std::abs(x) <= left.width() / 4.0 &&
            std::abs(y) <= left.height() / 4.0) {
            dx = int(std::lround(x));
            dy = int(std::lround(y));
        }
    }
    // The right eye shows at (x + dx, y + dy) what the left shows at (x, y), for the depth that
    // fills most of the picture; the margin keeps the edges out, where other depths show other
    // things to each eye.
    const int marginX = left.width() / 32, marginY = left.height() / 64;
    const QRect leftArea = whole.intersected(whole.translated(-dx, -dy))
                               .adjusted(marginX, marginY, -marginX, -marginY);
    if (leftArea.isEmpty())
        return {whole, whole};
    return {leftArea, leftArea.translated(dx, dy)};
}

ChannelCurves matchingCurves(const QImage &left, const QImage &right, const SharedArea &area) {
    const ChannelHistograms reference = histograms(left, area.left);
    const ChannelHistograms source = histograms(right, area.right);
    ChannelCurves curves;
    for (int channel = 0; channel < 3; ++channel)
        curves[channel] = matchedCurve(source[channel], reference[channel]);
    return curves;
}

bool matchEyeColors(QImage &left, QImage &right, bool aligned, ChannelCurves *curves) {
    QImage leftBitmap = asSourceBitmap(std::move(left));
    QImage rightBitmap = asSourceBitmap(std::move(right));
    if (leftBitmap.isNull() || rightBitmap.isNull() || leftBitmap.size() != rightBitmap.size())
        return false;
    *curves = matchingCurves(leftBitmap, rightBitmap, sharedArea(leftBitmap, rightBitmap, aligned));
    applyCurves(rightBitmap, *curves);
    left = std::move(leftBitmap);
    right = std::move(rightBitmap);
    return true;
}

QString colorMatchReport(const ChannelCurves &curves) {
    QString levels;
    const char *const names[] = {"red", "green", "blue"};
    for (int channel = 0; channel < 3; ++channel)
        levels += QStringLiteral("%1%2 %3 %4 %5")
                      .arg(channel > 0 ? QStringLiteral(", ") : QString())
                      .arg(QLatin1StringView(names[channel]))
                      .arg(curves[channel][64])
                      .arg(curves[channel][128])
                      .arg(curves[channel][192]);
    return QStringLiteral("colours matched to the left eye: levels 64 128 192 became %1")
        .arg(levels);
}

} // namespace duoptica
