#include "full_chroma_jpeg.h"

#include "jpeg_band_writer.h"

#include <QBuffer>
#include <QColorSpace>

#include <algorithm>
#include <cstdint>

namespace duoptica {

namespace {

constexpr int kCommentMarker = 0xFE;

} // namespace

bool IsGreyForJpeg(const QImage &picture) {
    switch (picture.format()) {
    case QImage::Format_Grayscale8:
    case QImage::Format_Grayscale16:
        return true;
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Indexed8: {
        const QList<QRgb> table = picture.colorTable();
        return std::all_of(table.begin(), table.end(), [](QRgb colour) { return qIsGray(colour); });
    }
    default:
        return false;
    }
}

QByteArray EncodeFullChromaJpeg(const QImage &picture, int quality, QString *error) {
    // Qt's writer takes the red, green and blue of each word and ignores alpha.
    const QImage::Format format = picture.format();
    const QImage words = format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
                                 format == QImage::Format_ARGB32_Premultiplied
                             ? picture
                             : picture.convertToFormat(QImage::Format_RGB32);
    if (words.isNull()) {
        *error = QStringLiteral("not enough memory to encode the picture");
        return {};
    }
    QBuffer encoded;
    encoded.open(QIODevice::WriteOnly);
    JpegBandWriter writer;
    bool written = writer.start(encoded, words.width(), words.height(), words.dotsPerMeterX(),
                                words.dotsPerMeterY(), quality, {}, true);
    // Qt writes the text, then the profile, after the JFIF segment.
    const QStringList keys = words.textKeys();
    for (qsizetype i = 0; written && i < keys.size(); ++i) {
        QByteArray comment = keys[i].toUtf8();
        if (!comment.isEmpty())
            comment += ": ";
        comment += words.text(keys[i]).toUtf8();
        written = writer.writeMarker(kCommentMarker, comment.left(65530));
    }
    if (written && words.colorSpace().isValid())
        written = writer.writeIccProfile(words.colorSpace().iccProfile());
    for (int y = 0; written && y < words.height(); ++y)
        written =
            writer.writeRows(reinterpret_cast<const std::uint32_t *>(words.constScanLine(y)), 1);
    if (!written || !writer.finish()) {
        *error = writer.errorString();
        return {};
    }
    return encoded.buffer();
}

} // namespace duoptica
