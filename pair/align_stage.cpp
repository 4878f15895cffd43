#include "align_stage.h"

#include "combine_pictures.h"

#include <QColorSpace>

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>

namespace duoptica {

namespace {

align::PixelView viewOf(const QImage &picture) {
    return {reinterpret_cast<const std::uint32_t *>(picture.constBits()), picture.width(),
            picture.height(), picture.bytesPerLine() / qsizetype(sizeof(std::uint32_t))};
}

void releaseHolder(void *holder) {
    delete static_cast<QImage *>(holder);
}

// The crop of a 32-bit picture without a second copy of it: its rows are moved to the front of
// its own buffer (each lands before where it was), which the result keeps alive. With what
// copy() carries over.
QImage croppedInPlace(QImage picture, const align::PixelRect &crop) {
    uchar *bits = picture.bits(); // detaches a shared picture, as copy() would
    if (!bits)
        return {};
    const qsizetype from = picture.bytesPerLine();
    const qsizetype to = qsizetype(crop.width) * qsizetype(sizeof(std::uint32_t));
    for (int row = 0; row < crop.height; ++row)
        std::memmove(bits + row * to,
                     bits + (crop.y + row) * from + crop.x * qsizetype(sizeof(std::uint32_t)),
                     std::size_t(to));
    const QImage::Format format = picture.format();
    auto *holder = new QImage(std::move(picture));
    QImage cropped(bits, crop.width, crop.height, to, format, releaseHolder, holder);
    cropped.setDotsPerMeterX(holder->dotsPerMeterX());
    cropped.setDotsPerMeterY(holder->dotsPerMeterY());
    cropped.setDevicePixelRatio(holder->devicePixelRatio());
    cropped.setOffset(holder->offset());
    cropped.setColorSpace(holder->colorSpace());
    for (const QString &key : holder->textKeys())
        cropped.setText(key, holder->text(key));
    return cropped;
}

QString matchingDetails(const align::AlignmentFit &fit) {
    return QStringLiteral("%1 and %2 features on a copy reduced %3 times%7, %4 mutual matches "
                          "passed the ratio test, %5 agreed vertically, %6 refined at full size%8")
        .arg(fit.featuresLeft)
        .arg(fit.featuresRight)
        .arg(fit.reduction)
        .arg(fit.ratioMatches)
        .arg(fit.consistentMatches)
        .arg(fit.points)
        .arg(fit.enhanced ? QStringLiteral(" with its contrast evened out") : QString(),
             fit.rowMatches
                 ? QStringLiteral(" (with %1 more found along the rows)").arg(fit.rowMatches)
                 : QString());
}

std::optional<int> measureNearestShift(const QImage &left, const QImage &right, QString *why) {
    const QImage leftBitmap = asSourceBitmap(left);
    const QImage rightBitmap = asSourceBitmap(right);
    if (leftBitmap.isNull() || rightBitmap.isNull()) {
        *why = QStringLiteral("not enough memory to match the pictures");
        return std::nullopt;
    }
    const align::FitResult result = align::fitAlignment(viewOf(leftBitmap), viewOf(rightBitmap), {},
                                                        align::NearestFrom::TexturedArea);
    if (!result.attempt.measured) {
        *why = QString::fromStdString(result.refusal);
        return std::nullopt;
    }
    return int(std::lround(-result.attempt.nearestRawDisparity));
}

std::optional<AlignSummary> alignOrRefuse(QImage &left, QImage &right, const AlignOptions &options,
                                          QString *refusal) {
    // The 32-bit words the alignment works on, as the pictures will be combined.
    QImage leftBitmap = asSourceBitmap(left);
    QImage rightBitmap = asSourceBitmap(right);
    if (leftBitmap.isNull() || rightBitmap.isNull()) {
        *refusal = QStringLiteral("not enough memory to align the pictures");
        return {};
    }
    const align::FitResult result =
        align::fitAlignment(viewOf(leftBitmap), viewOf(rightBitmap), {},
                            options.window.kind == align::WindowPlacement::Kind::NearestAtScreen
                                ? align::NearestFrom::TexturedArea
                                : align::NearestFrom::FitPoints);
    if (!result.fit) {
        *refusal = QString::fromStdString(result.refusal) +
                   (options.verbose ? QStringLiteral(" (%1)").arg(matchingDetails(result.attempt))
                                    : QStringLiteral(" (--verbose shows the matches)"));
        return {};
    }
    AlignSummary summary{*result.fit, align::layoutPair(*result.fit, options.window,
                                                        leftBitmap.width(), leftBitmap.height())};
    const align::PixelRect crop = summary.layout.crop;
    if (crop.width < 1 || crop.height < 1) {
        *refusal = QStringLiteral("the window shift of %1 pixels leaves nothing the two "
                                  "pictures share")
                       .arg(summary.layout.windowShift, 0, 'f', 1);
        return {};
    }

    QImage alignedRight(crop.width, crop.height, QImage::Format_RGB32);
    if (alignedRight.isNull()) {
        *refusal = QStringLiteral("not enough memory to align the pictures");
        return {};
    }
    auto *target = reinterpret_cast<std::uint32_t *>(alignedRight.bits());
    align::warpRight(viewOf(rightBitmap), summary.layout,
                     {target, crop.width, crop.height,
                      alignedRight.bytesPerLine() / qsizetype(sizeof(std::uint32_t))});
    // Each eye's source goes before the left is cut, so that it owns its buffer alone.
    rightBitmap = QImage();
    right = std::move(alignedRight);
    left = QImage();
    left = croppedInPlace(std::move(leftBitmap), crop);
    return summary;
}

} // namespace

std::optional<int> nearestAtScreenShift(const QImage &left, const QImage &right, QString *why) {
    if (std::min(left.width(), left.height()) < kMinAlignSide) {
        *why = QStringLiteral("the eyes are %1x%2 pixels; matching needs at least %3 on each side")
                   .arg(left.width())
                   .arg(left.height())
                   .arg(kMinAlignSide);
        return std::nullopt;
    }
    try {
        return measureNearestShift(left, right, why);
    } catch (const std::bad_alloc &) {
        *why = QStringLiteral("not enough memory to match the pictures");
    } catch (const std::exception &error) {
        *why = QStringLiteral("the feature matching failed: %1")
                   .arg(QString::fromLocal8Bit(error.what()).simplified());
    }
    return std::nullopt;
}

std::optional<AlignSummary> alignEyes(QImage &left, QImage &right, const AlignOptions &options,
                                      QString *refusal) {
    if (std::min(left.width(), left.height()) < kMinAlignSide) {
        *refusal = QStringLiteral("the eyes are %1x%2 pixels; alignment needs at least %3 on each "
                                  "side")
                       .arg(left.width())
                       .arg(left.height())
                       .arg(kMinAlignSide);
        return {};
    }
    // OpenCV reports what it cannot do by throwing; here that refuses one pair and never ends a
    // batch.
    try {
        return alignOrRefuse(left, right, options, refusal);
    } catch (const std::bad_alloc &) {
        *refusal = QStringLiteral("not enough memory to align the pictures");
    } catch (const std::exception &error) {
        *refusal = QStringLiteral("the feature matching failed: %1")
                       .arg(QString::fromLocal8Bit(error.what()).simplified());
    }
    return {};
}

QStringList alignmentReport(const AlignSummary &summary, bool verbose) {
    const align::AlignmentFit &fit = summary.fit;
    const align::PixelRect &crop = summary.layout.crop;
    const bool keystone = fit.correction == align::Correction::Keystone;
    QStringList lines{
        QStringLiteral("aligned with %1 points (%2): rotation %3 degrees, scale %4, vertical "
                       "shift %5 px, residual vertical disparity %6 px (median), %7 px (95th "
                       "percentile), window shift %8 px, cropped to %9x%10")
            .arg(fit.points)
            .arg(keystone ? QStringLiteral("keystone correction")
                          : QStringLiteral("similarity correction"))
            .arg(fit.similarity.rotationDegrees(), 0, 'f', 2)
            .arg(fit.similarity.scale(), 0, 'f', 4)
            .arg(fit.verticalShift, 0, 'f', 2)
            .arg(fit.residualVertical, 0, 'f', 2)
            .arg(fit.residualVertical95, 0, 'f', 2)
            .arg(summary.layout.windowShift, 0, 'f', 1)
            .arg(crop.width)
            .arg(crop.height)};
    if (verbose)
        lines << QStringLiteral("alignment details: %1; 95th percentile %2 px with a similarity "
                                "alone, noise of the points %6 px; nearest disparity %3 px before "
                                "the window shift, crop at "
                                "(%4, %5)")
                     .arg(matchingDetails(fit))
                     .arg(fit.similarityResidual95, 0, 'f', 2)
                     .arg(fit.nearestDisparity, 0, 'f', 1)
                     .arg(crop.x)
                     .arg(crop.y)
                     .arg(fit.residualNoise, 0, 'f', 2);
    return lines;
}

} // namespace duoptica
