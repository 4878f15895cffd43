#include "combine_pictures.h"

#include "huge_pages.h"

#include <QPainter>
#include <QtConcurrentMap>

#include <algorithm>
#include <vector>

namespace duoptica {

namespace {

// The background colour of the window's picture surfaces.
constexpr QRgb kSurfaceBackground = 0xFF404040;

// Large enough to amortise handing a chunk to a thread, small enough to spread a picture of a
// few megapixels over every core.
constexpr qsizetype kChunkPixels = qsizetype(1) << 16;

} // namespace

QImage asSourceBitmap(QImage picture) {
    if (!picture.hasAlphaChannel()) {
        picture.convertTo(QImage::Format_RGB32);
        return picture;
    }
    QImage bitmap = AllocatePicture(picture.size(), QImage::Format_RGB32);
    // The output keeps the left picture's resolution, whichever way it was made.
    bitmap.setDotsPerMeterX(picture.dotsPerMeterX());
    bitmap.setDotsPerMeterY(picture.dotsPerMeterY());
    bitmap.fill(kSurfaceBackground);
    QPainter painter(&bitmap);
    painter.drawImage(0, 0, picture);
    return bitmap;
}

void combinePixels(const PackedPixel *left, const PackedPixel *right, PackedPixel *output,
                   qsizetype count, AnaglyphMethod method, Threads threads) {
    const auto combineChunk = [=](qsizetype first) {
        const qsizetype length = std::min(kChunkPixels, count - first);
        combineMethodSpan(left + first, right + first, output + first,
                          static_cast<std::size_t>(length), method);
    };
    if (threads == Threads::One || count <= kChunkPixels) {
        for (qsizetype first = 0; first < count; first += kChunkPixels)
            combineChunk(first);
        return;
    }
    std::vector<qsizetype> chunks;
    for (qsizetype first = 0; first < count; first += kChunkPixels)
        chunks.push_back(first);
    QtConcurrent::blockingMap(chunks, combineChunk);
}

QImage combinePictures(QImage left, const QImage &right, AnaglyphMethod method, Threads threads) {
    left = asSourceBitmap(std::move(left));
    const QImage rightBitmap = asSourceBitmap(right);
    // A conversion that ran out of memory gives a null picture, with no pixels to read.
    if (left.isNull() || rightBitmap.isNull() || left.size() != rightBitmap.size())
        return {};
    // 32-bit rows are padding-free, so a picture is one span of width x height words.
    auto *output = reinterpret_cast<PackedPixel *>(left.bits());
    combinePixels(output, reinterpret_cast<const PackedPixel *>(rightBitmap.constBits()), output,
                  qsizetype(left.width()) * left.height(), method, threads);
    return left;
}

} // namespace duoptica
