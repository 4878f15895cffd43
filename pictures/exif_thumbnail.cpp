#include "exif_thumbnail.h"

#include "camera_exif.h"
#include "exif_data.h"
#include "maker_note_parallax.h"
#include "picture_file.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace duoptica {

namespace {

constexpr QSize kThumbnailSize(160, 120);
constexpr qsizetype kMaxSegmentPayload = 65533;
// A 160 x 120 JPEG of a photograph takes 4 to 8 KiB at quality 75; the qualities below are
// tried in turn until one fits.
constexpr qsizetype kThumbnailRoom = 12 * 1024;
constexpr int kThumbnailQualities[] = {75, 50, 25};

qsizetype reservedSize(const QByteArray &exif) {
    return std::min(exif.size() + kThumbnailRoom, kMaxSegmentPayload);
}

QByteArray padded(QByteArray exif, qsizetype size) {
    exif.append(QByteArray(size - exif.size(), '\0'));
    return exif;
}

void addShort(ExifData *data, ExifTag tag, quint16 value) {
    ExifEntry *entry = exif_entry_new();
    if (!entry)
        return;
    exif_content_add_entry(data->ifd[EXIF_IFD_1], entry);
    exif_entry_initialize(entry, tag);
    if (entry->format == EXIF_FORMAT_SHORT && entry->data)
        exif_set_short(entry->data, exif_data_get_byte_order(data), value);
    exif_entry_unref(entry);
}

// The EXIF payload with the JPEG as its thumbnail in IFD1.
QByteArray withThumbnail(const QByteArray &exif, const QByteArray &jpeg) {
    const ExifPointer data = LoadExifAsIs(exif);
    if (!data || data->ifd[EXIF_IFD_0]->count == 0)
        return {};
    addShort(data.get(), EXIF_TAG_COMPRESSION, 6); // JPEG
    addShort(data.get(), EXIF_TAG_RESOLUTION_UNIT, 2);
    for (const ExifTag tag : {EXIF_TAG_X_RESOLUTION, EXIF_TAG_Y_RESOLUTION}) {
        if (ExifEntry *entry = exif_entry_new()) {
            exif_content_add_entry(data->ifd[EXIF_IFD_1], entry);
            exif_entry_initialize(entry, tag); // 72 per inch
            exif_entry_unref(entry);
        }
    }
    // libexif's default allocator is malloc.
    std::free(data->data);
    data->data = static_cast<unsigned char *>(std::malloc(std::size_t(jpeg.size())));
    if (!data->data)
        return {};
    std::memcpy(data->data, jpeg.constData(), std::size_t(jpeg.size()));
    data->size = unsigned(jpeg.size());
    QByteArray result = SavedExif(data.get());
    // Saved again, the maker note moved again: its offsets follow it.
    ClearMakerNoteParallax(result);
    return result;
}

} // namespace

ThumbnailAccumulator::ThumbnailAccumulator(QSize picture)
    : picture_(picture) {
    const qint64 w = std::max(1, picture.width());
    const qint64 h = std::max(1, picture.height());
    // Letterboxed: the whole picture, its shape kept, in 160 x 120.
    content_ = w * kThumbnailSize.height() >= h * kThumbnailSize.width()
                   ? QSize(kThumbnailSize.width(),
                           int(std::max<qint64>(1, (h * kThumbnailSize.width() + w / 2) / w)))
                   : QSize(int(std::max<qint64>(1, (w * kThumbnailSize.height() + h / 2) / h)),
                           kThumbnailSize.height());
    // Each thumbnail pixel is the mean of the picture's pixels it covers, at least one: a small
    // picture is enlarged, each of its pixels repeated.
    const auto span = [](qint64 i, qint64 parts, qint64 whole) {
        const auto start = int(i * whole / parts);
        return std::pair{start, std::max(start + 1, int((i + 1) * whole / parts))};
    };
    for (int x = 0; x < content_.width(); ++x)
        columns_.push_back(span(x, content_.width(), w));
    for (int y = 0; y < content_.height(); ++y)
        rows_.push_back(span(y, content_.height(), h));
    sums_.assign(std::size_t(content_.width()) * std::size_t(content_.height()) * 4, 0);
}

void ThumbnailAccumulator::addRows(const std::uint32_t *rows, int firstRow, int count) {
    const std::size_t width = std::size_t(std::max(0, picture_.width()));
    for (int i = 0; i < count; ++i) {
        const int y = firstRow + i;
        const std::uint32_t *row = rows + width * std::size_t(i);
        for (std::size_t ty = 0; ty < rows_.size(); ++ty) {
            if (y < rows_[ty].first || y >= rows_[ty].second)
                continue;
            std::uint64_t *sum = sums_.data() + ty * columns_.size() * 4;
            for (const auto &[start, end] : columns_) {
                for (int x = start; x < end && std::size_t(x) < width; ++x) {
                    sum[0] += qRed(row[x]);
                    sum[1] += qGreen(row[x]);
                    sum[2] += qBlue(row[x]);
                    ++sum[3];
                }
                sum += 4;
            }
        }
    }
}

void ThumbnailAccumulator::addPicture(const QImage &picture) {
    const QImage words =
        picture.format() == QImage::Format_RGB32 || picture.format() == QImage::Format_ARGB32
            ? picture
            : picture.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < words.height(); ++y)
        addRows(reinterpret_cast<const std::uint32_t *>(words.constScanLine(y)), y, 1);
}

QImage ThumbnailAccumulator::thumbnail() const {
    QImage thumbnail(kThumbnailSize, QImage::Format_RGB32);
    if (thumbnail.isNull())
        return {};
    thumbnail.fill(Qt::black);
    // 72 dpi, as IFD1 says, rather than the default of whichever program runs.
    constexpr int kDotsPerMetre = 2835;
    thumbnail.setDotsPerMeterX(kDotsPerMetre);
    thumbnail.setDotsPerMeterY(kDotsPerMetre);
    const int left = (kThumbnailSize.width() - content_.width()) / 2;
    const int top = (kThumbnailSize.height() - content_.height()) / 2;
    for (int y = 0; y < content_.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(thumbnail.scanLine(top + y)) + left;
        for (int x = 0; x < content_.width(); ++x) {
            const std::uint64_t *sum =
                sums_.data() +
                (std::size_t(y) * std::size_t(content_.width()) + std::size_t(x)) * 4;
            if (sum[3] == 0)
                continue;
            const auto mean = [&](int c) { return int((sum[c] + sum[3] / 2) / sum[3]); };
            row[x] = qRgb(mean(0), mean(1), mean(2));
        }
    }
    return thumbnail;
}

QByteArray ExifPlaceholder(const QByteArray &eyeExif, QSize size) {
    const QByteArray exif = OutputExif(eyeExif, size);
    if (exif.isEmpty() || exif.size() > kMaxSegmentPayload)
        return {};
    return padded(exif, reservedSize(exif));
}

QByteArray ExifWithThumbnail(const QByteArray &eyeExif, QSize size, const QImage &thumbnail) {
    const QByteArray exif = OutputExif(eyeExif, size);
    if (exif.isEmpty() || exif.size() > kMaxSegmentPayload)
        return {};
    const qsizetype reserved = reservedSize(exif);
    for (const int quality : kThumbnailQualities) {
        QString error;
        const QByteArray jpeg =
            thumbnail.isNull() ? QByteArray() : EncodePicture(thumbnail, "jpg", quality, &error);
        if (jpeg.isEmpty())
            break;
        if (const QByteArray result = withThumbnail(exif, jpeg);
            !result.isEmpty() && result.size() <= reserved)
            return padded(result, reserved);
    }
    return padded(exif, reserved);
}

} // namespace duoptica
