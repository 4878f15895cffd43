#include "camera_exif.h"

#include "exif_data.h"
#include "maker_note_parallax.h"

#include <QFile>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

namespace duoptica {

namespace {

constexpr qsizetype kMaxSegmentPayload = 65533;
constexpr qint64 kHeadBytes = 256 * 1024;

// Calls onSegment(marker, at, payload) for each header segment of the first image, until the
// first scan or a segment that does not fit; at is where the segment's FF is.
template <typename OnSegment> void walkHeader(QByteArrayView jpeg, OnSegment onSegment) {
    if (!jpeg.startsWith(QByteArrayView("\xFF\xD8", 2)))
        return;
    qsizetype at = 2;
    while (at + 4 <= jpeg.size() && quint8(jpeg[at]) == 0xFF) {
        const quint8 marker = quint8(jpeg[at + 1]);
        if (marker == 0xDA || marker == 0xD9)
            return;
        const qsizetype length = quint8(jpeg[at + 2]) << 8 | quint8(jpeg[at + 3]);
        if (length < 2 || at + 2 + length > jpeg.size())
            return;
        if (!onSegment(marker, at, jpeg.sliced(at + 4, length - 2)))
            return;
        at += 2 + length;
    }
}

bool isExif(quint8 marker, QByteArrayView payload) {
    return marker == 0xE1 && payload.startsWith(QByteArrayView("Exif\0\0", 6));
}

void setLong(ExifData *data, ExifIfd ifd, ExifTag tag, quint32 value) {
    ExifContent *content = data->ifd[ifd];
    if (ExifEntry *old = exif_content_get_entry(content, tag))
        exif_content_remove_entry(content, old);
    ExifEntry *entry = exif_entry_new();
    if (!entry)
        return;
    exif_content_add_entry(content, entry);
    exif_entry_initialize(entry, tag);
    if (entry->format == EXIF_FORMAT_LONG && entry->data)
        exif_set_long(entry->data, exif_data_get_byte_order(data), value);
    exif_entry_unref(entry);
}

} // namespace

QByteArray ExifOfJpeg(QByteArrayView jpeg) {
    QByteArray exif;
    walkHeader(jpeg, [&](quint8 marker, qsizetype, QByteArrayView payload) {
        if (!isExif(marker, payload))
            return true;
        exif = payload.toByteArray();
        return false;
    });
    return exif;
}

bool HasJfifDensity(QByteArrayView jpeg) {
    bool found = false;
    walkHeader(jpeg, [&](quint8 marker, qsizetype, QByteArrayView payload) {
        // "JFIF\0", version, units (1 inch, 2 cm), X and Y density.
        if (marker == 0xE0 && payload.size() >= 12 && payload.startsWith("JFIF") &&
            (payload[7] == 1 || payload[7] == 2))
            found = (payload[8] != 0 || payload[9] != 0) && (payload[10] != 0 || payload[11] != 0);
        return !found;
    });
    return found;
}

std::optional<QSizeF> ExifDotsPerInch(const QByteArray &exif) {
    if (exif.isEmpty())
        return std::nullopt;
    const ExifPointer data = LoadExifAsIs(exif);
    if (!data)
        return std::nullopt;
    const ExifByteOrder order = exif_data_get_byte_order(data.get());
    const auto rational = [&](ExifTag tag) -> double {
        const ExifEntry *entry = exif_content_get_entry(data->ifd[EXIF_IFD_0], tag);
        if (!entry || entry->format != EXIF_FORMAT_RATIONAL || entry->size < 8)
            return 0;
        const ExifRational value = exif_get_rational(entry->data, order);
        return value.denominator == 0 ? 0 : double(value.numerator) / value.denominator;
    };
    const double x = rational(EXIF_TAG_X_RESOLUTION);
    const double y = rational(EXIF_TAG_Y_RESOLUTION);
    if (x <= 0 || y <= 0)
        return std::nullopt;
    const ExifEntry *unit = exif_content_get_entry(data->ifd[EXIF_IFD_0], EXIF_TAG_RESOLUTION_UNIT);
    // 2 inches (the default), 3 centimetres.
    const bool centimetres = unit && unit->format == EXIF_FORMAT_SHORT && unit->size >= 2 &&
                             exif_get_short(unit->data, order) == 3;
    const double perInch = centimetres ? 2.54 : 1;
    return QSizeF(x * perInch, y * perInch);
}

QByteArray UprightExif(const QByteArray &exif, QSize size) {
    if (exif.isEmpty())
        return {};
    const ExifPointer data = LoadExifAsIs(exif);
    if (!data || data->ifd[EXIF_IFD_0]->count == 0)
        return {};
    const ExifByteOrder order = exif_data_get_byte_order(data.get());
    if (ExifEntry *orientation =
            exif_content_get_entry(data->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
        orientation && orientation->format == EXIF_FORMAT_SHORT && orientation->size >= 2)
        exif_set_short(orientation->data, order, 1);
    // The thumbnail shows the old picture; it goes with the IFD that describes it.
    ExifContent *thumbnailIfd = data->ifd[EXIF_IFD_1];
    while (thumbnailIfd->count > 0)
        exif_content_remove_entry(thumbnailIfd, thumbnailIfd->entries[0]);
    std::free(data->data); // libexif's default allocator is malloc
    data->data = nullptr;
    data->size = 0;
    if (data->ifd[EXIF_IFD_EXIF]->count > 0) {
        setLong(data.get(), EXIF_IFD_EXIF, EXIF_TAG_PIXEL_X_DIMENSION, quint32(size.width()));
        setLong(data.get(), EXIF_IFD_EXIF, EXIF_TAG_PIXEL_Y_DIMENSION, quint32(size.height()));
    }
    QByteArray upright = SavedExif(data.get());
    // The pixels are new: a stored shift for showing the old ones would misplace the window.
    ClearMakerNoteParallax(upright);
    return upright;
}

QByteArray MinimalExif(QSize size) {
    const ExifPointer data(exif_data_new());
    if (!data)
        return {};
    exif_data_set_byte_order(data.get(), EXIF_BYTE_ORDER_INTEL);
    // The same in every program, so that a picture's bytes do not depend on which wrote it.
    const QByteArray software = "Duoptica " DUOPTICA_VERSION;
    if (ExifEntry *entry = exif_entry_new()) {
        // libexif frees the value with its default allocator, malloc's free.
        auto *value = static_cast<unsigned char *>(std::malloc(std::size_t(software.size()) + 1));
        if (value) {
            std::memcpy(value, software.constData(), std::size_t(software.size()) + 1);
            entry->tag = EXIF_TAG_SOFTWARE;
            entry->format = EXIF_FORMAT_ASCII;
            entry->components = unsigned(software.size()) + 1;
            entry->size = entry->components;
            entry->data = value;
            exif_content_add_entry(data->ifd[EXIF_IFD_0], entry);
        }
        exif_entry_unref(entry);
    }
    // Tags readers require, at libexif's defaults: the version 0210, the components Y Cb Cr,
    // Flashpix 0100 and centred chroma.
    for (const auto &[ifd, tag] : {std::pair{EXIF_IFD_0, EXIF_TAG_YCBCR_POSITIONING},
                                   {EXIF_IFD_EXIF, EXIF_TAG_EXIF_VERSION},
                                   {EXIF_IFD_EXIF, EXIF_TAG_COMPONENTS_CONFIGURATION},
                                   {EXIF_IFD_EXIF, EXIF_TAG_FLASH_PIX_VERSION}}) {
        if (ExifEntry *entry = exif_entry_new()) {
            exif_content_add_entry(data->ifd[ifd], entry);
            exif_entry_initialize(entry, tag);
            exif_entry_unref(entry);
        }
    }
    setLong(data.get(), EXIF_IFD_EXIF, EXIF_TAG_PIXEL_X_DIMENSION, quint32(size.width()));
    setLong(data.get(), EXIF_IFD_EXIF, EXIF_TAG_PIXEL_Y_DIMENSION, quint32(size.height()));
    return SavedExif(data.get());
}

QByteArray OutputExif(const QByteArray &eyeExif, QSize size) {
    const QByteArray upright = UprightExif(eyeExif, size);
    return upright.isEmpty() ? MinimalExif(size) : upright;
}

QByteArray JpegWithExif(const QByteArray &jpeg, const QByteArray &exif) {
    if (exif.isEmpty() || exif.size() > kMaxSegmentPayload || !jpeg.startsWith("\xFF\xD8"))
        return jpeg;
    qsizetype oldAt = -1;
    qsizetype oldLength = 0;
    walkHeader(jpeg, [&](quint8 marker, qsizetype at, QByteArrayView payload) {
        if (!isExif(marker, payload))
            return true;
        oldAt = at;
        oldLength = payload.size() + 4;
        return false;
    });
    QByteArray result = jpeg;
    if (oldAt >= 0)
        result.remove(oldAt, oldLength);
    const auto length = quint16(exif.size() + 2);
    QByteArray segment("\xFF\xE1", 2);
    segment.append(char(length >> 8)).append(char(length & 0xFF)).append(exif);
    return result.insert(2, segment);
}

QByteArray JpegWithExifFirst(const QByteArray &jpeg, QSize size) {
    const QByteArray exif = ExifOfJpeg(jpeg);
    return JpegWithExif(jpeg, exif.isEmpty() ? MinimalExif(size) : exif);
}

void ApplyCameraResolution(QImage &picture, QByteArrayView jpeg) {
    if (HasJfifDensity(jpeg))
        return;
    if (const std::optional<QSizeF> dpi = ExifDotsPerInch(ExifOfJpeg(jpeg))) {
        constexpr double kInchesPerMetre = 1 / 0.0254;
        picture.setDotsPerMeterX(qRound(dpi->width() * kInchesPerMetre));
        picture.setDotsPerMeterY(qRound(dpi->height() * kInchesPerMetre));
    }
}

QByteArray FileHead(const QString &fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(kHeadBytes);
}

} // namespace duoptica
