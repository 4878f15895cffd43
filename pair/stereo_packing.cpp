#include "stereo_packing.h"

#include "combine_pictures.h"
#include "huge_pages.h"

#include <QColorSpace>
#include <QPainter>

namespace duoptica {

namespace {

QImage besideOrBelow(const QImage &first, const QImage &second, bool beside) {
    const QSize size = beside ? QSize(first.width() + second.width(), first.height())
                              : QSize(first.width(), first.height() + second.height());
    QImage packed = AllocatePicture(size, QImage::Format_RGB32);
    if (packed.isNull())
        return {};
    QPainter painter(&packed);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, first);
    painter.drawImage(beside ? first.width() : 0, beside ? 0 : first.height(), second);
    return packed;
}

// Squeezed with Qt's smooth scaling, which averages the pixels each output pixel covers (an area
// filter) rather than dropping every other one. The two halves fill one eye's size, an odd width
// or height giving the right eye the extra line.
QImage squeezedFrame(const QImage &left, const QImage &right, bool beside) {
    const QSize size = left.size();
    const QSize first =
        beside ? QSize(size.width() / 2, size.height()) : QSize(size.width(), size.height() / 2);
    const QSize second = beside ? QSize(size.width() - first.width(), size.height())
                                : QSize(size.width(), size.height() - first.height());
    if (first.isEmpty())
        return {};
    return besideOrBelow(left.scaled(first, Qt::IgnoreAspectRatio, Qt::SmoothTransformation),
                         right.scaled(second, Qt::IgnoreAspectRatio, Qt::SmoothTransformation),
                         beside);
}

QImage interleaved(const QImage &left, const QImage &right, StereoOutput to) {
    QImage packed = AllocatePicture(left.size(), QImage::Format_RGB32);
    if (packed.isNull())
        return {};
    for (int y = 0; y < packed.height(); ++y) {
        const auto *leftRow = reinterpret_cast<const QRgb *>(left.constScanLine(y));
        const auto *rightRow = reinterpret_cast<const QRgb *>(right.constScanLine(y));
        auto *row = reinterpret_cast<QRgb *>(packed.scanLine(y));
        if (to == StereoOutput::Rows) {
            std::copy_n(y % 2 == 0 ? leftRow : rightRow, packed.width(), row);
            continue;
        }
        // Columns: the left eye on even x; checkerboard: on even x + y.
        const int leftParity = to == StereoOutput::Checkerboard ? y % 2 : 0;
        for (int x = 0; x < packed.width(); ++x)
            row[x] = (x % 2 == leftParity) ? leftRow[x] : rightRow[x];
    }
    return packed;
}

QImage packBitmaps(const QImage &left, const QImage &right, StereoOutput to) {
    switch (to) {
    case StereoOutput::Parallel:
        return besideOrBelow(left, right, true);
    case StereoOutput::Cross:
    case StereoOutput::Jps:
        return besideOrBelow(right, left, true);
    case StereoOutput::OverUnder:
        return besideOrBelow(left, right, false);
    case StereoOutput::HalfParallel:
        return squeezedFrame(left, right, true);
    case StereoOutput::HalfOverUnder:
        return squeezedFrame(left, right, false);
    case StereoOutput::Rows:
    case StereoOutput::Columns:
    case StereoOutput::Checkerboard:
        return interleaved(left, right, to);
    case StereoOutput::Anaglyph:
    case StereoOutput::Mpo:
    case StereoOutput::Pair:
    case StereoOutput::Wiggle:
    case StereoOutput::Heic:
        return {};
    }
    return {};
}

} // namespace

QImage packEyes(const QImage &left, const QImage &right, StereoOutput to) {
    const QImage leftBitmap = asSourceBitmap(left);
    const QImage rightBitmap = asSourceBitmap(right);
    if (leftBitmap.isNull() || rightBitmap.isNull() || leftBitmap.size() != rightBitmap.size())
        return {};
    QImage packed = packBitmaps(leftBitmap, rightBitmap, to);
    packed.setDotsPerMeterX(left.dotsPerMeterX());
    packed.setDotsPerMeterY(left.dotsPerMeterY());
    packed.setColorSpace(left.colorSpace()); // the camera's profile, kept by PNG and JPEG
    return packed;
}

} // namespace duoptica
