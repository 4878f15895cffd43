#include "area_shrink.h"
#include "decoder_input.h"
#include "huge_pages.h"
#include "jpeg_band_reader.h"
#include "jpeg_markers.h"
#include "picture_file.h"
#include "png_chunks.h"
#include "qt_jpeg_warnings.h"

#include <QCoreApplication>
#include <QImageReader>
#include <QRect>
#include <QTransform>
#include <QtEndian>

#include <cstdlib>
#include <functional>
#include <vector>

namespace duoptica {

namespace {

QString reason(const char *text) {
    return QCoreApplication::translate("PictureFile", text);
}

bool isSupportedFormat(const QByteArray &format, const LoadLimits &limits) {
    return format == "bmp" || format == "jpeg" || format == "gif" ||
           (limits.acceptPng && format == "png") ||
           (limits.acceptTiffAndWebp && (format == "tiff" || format == "tif" || format == "webp"));
}

// The BMP decoder asks for exactly the bytes it needs, so a request reaching past the end means
// rows the file never held (Qt hands them back uninitialised). The JPEG, GIF and PNG decoders read
// ahead in chunks; only a request that finds nothing left means they ran out (Qt fills the rest
// with grey or black and reports success).
bool decoderRanShort(const QByteArray &format, const DecoderInput &input) {
    return format == "bmp" ? input.askedPastEnd() : input.ranDry();
}

QString notAcceptedReason(const LoadLimits &limits) {
    if (limits.acceptPng && limits.acceptTiffAndWebp)
        return reason("It is not a BMP, JPEG, GIF, PNG, TIFF or WebP picture.");
    if (limits.acceptPng)
        return reason("It is not a BMP, JPEG, GIF or PNG picture.");
    return reason("It is not a BMP, JPEG or GIF picture.");
}

// A BMP of 4 or 8 bits a pixel in runs (BI_RLE8, BI_RLE4). Their end-of-line, delta and
// end-of-picture codes may leave pixels unset, which Qt's decoder leaves as the allocator left
// them: such a picture would differ from run to run.
bool isRunLengthBmp(QIODevice &input) {
    const QByteArray header = input.peek(34);
    if (header.size() < 34 || !header.startsWith("BM"))
        return false;
    const auto field = [&](int at) { return qFromLittleEndian<quint32>(header.constData() + at); };
    return field(14) >= 40 && (field(30) == 1 || field(30) == 2);
}

// An 8-bit indexed picture, the format Qt decodes run-length BMPs into, every pixel index given.
QImage filledPicture(QSize size, uint index) {
    QImage picture(size, QImage::Format_Indexed8);
    if (!picture.isNull())
        picture.fill(index);
    return picture;
}

// The same run-length BMP decoded onto index 0 and onto index 1: the pixels that differ were set
// by no code and are shown black, as most programs show them (index 0 need not be black).
QImage unsetPixelsBlack(const QImage &ontoZero, const QImage &ontoOne) {
    if (ontoZero.size() != ontoOne.size() || ontoZero.format() != QImage::Format_Indexed8 ||
        ontoOne.format() != QImage::Format_Indexed8)
        return {};
    QImage shown;
    for (int y = 0; y < ontoZero.height(); ++y) {
        const uchar *zero = ontoZero.constScanLine(y);
        const uchar *one = ontoOne.constScanLine(y);
        for (int x = 0; x < ontoZero.width(); ++x) {
            if (zero[x] == one[x])
                continue;
            // A picture whose codes set every pixel keeps the decoder's own format.
            if (shown.isNull()) {
                shown = ontoZero.convertToFormat(QImage::Format_RGB32);
                if (shown.isNull())
                    return {};
            }
            reinterpret_cast<QRgb *>(shown.scanLine(y))[x] = qRgb(0, 0, 0);
        }
    }
    return shown.isNull() ? ontoZero : shown;
}

bool looksLikeJpeg(QIODevice &input) {
    return input.peek(2) == QByteArrayLiteral("\xFF\xD8");
}

// Whether libjpeg, decoding the JPEG again, reaches its end without finding its scan data cut
// short. A picture libjpeg cannot turn into colour or grey rows is taken as it is.
bool jpegScansComplete(JpegBandReader &reader) {
    if (!reader.isColourOrGrey())
        return true;
    if (!reader.start())
        return false;
    std::vector<std::uint32_t> row(std::size_t(reader.width()));
    for (int y = 0; y < reader.height(); ++y)
        if (!reader.readRows(row.data(), 1))
            return false;
    return reader.finish();
}

// The reader's rows shrunk by area into picture a band at a time.
bool readShrunk(JpegBandReader &reader, QImage &picture) {
    constexpr int kBandRows = 16;
    const int width = reader.scaledWidth();
    const int height = reader.scaledHeight();
    AreaShrink shrink(width, height, picture.width(), picture.height());
    std::vector<std::uint32_t> band(std::size_t(width) * kBandRows);
    auto *output = reinterpret_cast<PackedPixel *>(picture.bits());
    int written = 0;
    for (int row = 0; row < height; row += kBandRows) {
        const int count = std::min(kBandRows, height - row);
        if (!reader.readRows(band.data(), count))
            return false;
        written += shrink.addRows(band.data(), std::size_t(width), count,
                                  output + qsizetype(written) * picture.width());
    }
    return written == picture.height();
}

// The JPEG decoded in libjpeg's DCT at the smallest of 1/2, 1/4 and 1/8 of its size still at
// least twice the size it will be shrunk to, at a fraction of the cost of decoding it whole, for
// the area average to finish. Null when no reduction fits, or when libjpeg refuses what Qt's
// reader may take: it is then decoded whole, failing as it always has.
PictureLoad decodeScaledJpeg(QSize stored, QImageIOHandler::Transformations orientation,
                             const LoadLimits &limits,
                             const std::function<bool(JpegBandReader &)> &openAgain) {
    const bool turned = orientation.testFlag(QImageIOHandler::TransformationRotate90);
    const QSize upright = turned ? stored.transposed() : stored;
    QSize target = limits.shrinkTarget(upright);
    if (turned)
        target.transpose();
    const int denominator = JpegReductionFor(stored, target);
    if (denominator == 1)
        return {};
    JpegBandReader reader;
    if (!openAgain(reader) || !reader.isColourOrGrey())
        return {};
    reader.setScaleDenominator(denominator);
    const QSize decoded(reader.scaledWidth(), reader.scaledHeight());
    QImage picture =
        AllocatePicture(limits.shrinkWhileDecoding ? target : decoded, QImage::Format_RGB32);
    if (picture.isNull() || picture.bytesPerLine() != qsizetype(picture.width()) * 4 ||
        !reader.start())
        return {};
    auto *rows = reinterpret_cast<std::uint32_t *>(picture.bits());
    if (!(picture.size() == decoded ? reader.readRows(rows, picture.height())
                                    : readShrunk(reader, picture)) ||
        !reader.finish())
        return {};
    // The resolution Qt's reader would give it.
    const QImage unset(1, 1, QImage::Format_RGB32);
    picture.setDotsPerMeterX(reader.dotsPerMeterX(unset.dotsPerMeterX()));
    picture.setDotsPerMeterY(reader.dotsPerMeterY(unset.dotsPerMeterY()));
    return {picture, {}, orientation, upright};
}

PictureLoad decodePicture(DecoderInput &input, const LoadLimits &limits,
                          const std::function<bool(JpegBandReader &)> &openAgain) {
    if (input.size() == 0)
        return {{}, reason("The file is empty.")};

    const bool jpeg = looksLikeJpeg(input);
    const bool runLengthBmp = isRunLengthBmp(input);
    JpegScanCounter jpegMarkers;
    if (jpeg) {
        jpegMarkers = WalkJpegMarkers(input);
        if (const int scans = jpegMarkers.scans(); scans > kMaxJpegScans)
            return {{},
                    reason("The JPEG has %1 scans, more than %2.").arg(scans).arg(kMaxJpegScans)};
    }

    if (limits.acceptPng)
        if (QString refusal = checkPngChunks(input); !refusal.isEmpty())
            return {{}, refusal};

    // From the header on, since libjpeg passes on only a picture's first warning.
    const QtJpegWarnings warnings;
    // The format comes from the content alone: the name's extension says nothing reliable.
    QImageReader reader(&input);
    const QByteArray format = reader.format();
    if (!isSupportedFormat(format, limits))
        return {{}, notAcceptedReason(limits)};

    QSize size = reader.size();
    // Qt 6.4 reports the height of a top-down BMP as negative, yet decodes it the right way up.
    size.setHeight(std::abs(size.height()));
    if (size.isEmpty())
        return {{}, reason("Its header is damaged.")};
    if (qint64(size.width()) * size.height() > limits.maxPixels)
        return {{},
                reason("The picture is too large: %1 × %2 pixels, more than %3 megapixels.")
                    .arg(size.width())
                    .arg(size.height())
                    .arg(limits.maxPixels / 1'000'000)};
    if (jpeg && !jpegMarkers.arithmetic() &&
        !JpegDataCanHold(jpegMarkers.entropyBytes(), size.width(), size.height()))
        return {{}, reason("The file is truncated.")};

    // Shown as stored, as the clip rectangle is given in stored orientation.
    reader.setAutoTransform(false);
    const QImageIOHandler::Transformations orientation = reader.transformation();
    if (!limits.visibleArea.isEmpty())
        reader.setClipRect(QRect({0, 0}, limits.visibleArea).intersected(QRect({0, 0}, size)));

    if (jpeg && limits.shrinkTarget && limits.visibleArea.isEmpty())
        if (PictureLoad scaled = decodeScaledJpeg(size, orientation, limits, openAgain);
            !scaled.picture.isNull())
            return scaled;

    input.forgetRequests();
    QImage picture;
    const bool runLength = runLengthBmp && format == "bmp";
    if (runLength)
        picture = filledPicture(size, 0);
    else if (limits.visibleArea.isEmpty())
        picture = AllocatePicture(size, reader.imageFormat());
    bool decoded = reader.read(&picture);
    if (decoderRanShort(format, input) || warnings.sawPrematureEnd())
        return {{}, reason("The file is truncated.")};
    if (decoded && runLength) {
        // Decoded again onto index 1: where the two differ, no code set the pixel.
        QImage again = filledPicture(size, 1);
        input.seek(0);
        QImageReader second(&input, format);
        second.setClipRect(reader.clipRect());
        decoded = second.read(&again);
        picture = unsetPixelsBlack(picture, again);
    }
    // A first warning of another kind hides any that follow: decode again to be sure.
    if (format == "jpeg" && warnings.sawOther()) {
        JpegBandReader again;
        if (!openAgain(again) || !jpegScansComplete(again))
            return {{}, reason("The file is truncated.")};
    }
    if (!decoded || picture.isNull())
        return {{}, reason("It cannot be decoded: %1.").arg(reader.errorString())};
    return {picture, {}, orientation};
}

} // namespace

PictureLoad LoadPicture(const QString &fileName, const LoadLimits &limits) {
    if (fileName.isEmpty())
        return {};
    DecoderInput input;
    if (QString refusal = input.openFile(fileName); !refusal.isEmpty())
        return {{}, refusal};
    return decodePicture(input, limits,
                         [&fileName](JpegBandReader &reader) { return reader.open(fileName); });
}

PictureLoad LoadPictureBytes(const QByteArray &bytes, const LoadLimits &limits) {
    DecoderInput input;
    input.openBytes(bytes);
    return decodePicture(input, limits,
                         [&bytes](JpegBandReader &reader) { return reader.openBytes(bytes); });
}

QImage UprightPicture(const QImage &picture, QImageIOHandler::Transformations orientation) {
    // The mirror or flip comes first, then the quarter turn clockwise, as EXIF defines them.
    QImage upright = picture.mirrored(orientation.testFlag(QImageIOHandler::TransformationMirror),
                                      orientation.testFlag(QImageIOHandler::TransformationFlip));
    if (orientation.testFlag(QImageIOHandler::TransformationRotate90))
        upright = upright.transformed(QTransform().rotate(90));
    return upright;
}

} // namespace duoptica
