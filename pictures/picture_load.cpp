#include "decoder_input.h"
#include "huge_pages.h"
#include "jpeg_markers.h"
#include "picture_file.h"
#include "png_chunks.h"

#include <QCoreApplication>
#include <QImageReader>
#include <QRect>
#include <QTransform>

#include <cstdlib>

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

bool looksLikeJpeg(QIODevice &input) {
    return input.peek(2) == QByteArrayLiteral("\xFF\xD8");
}

PictureLoad decodePicture(DecoderInput &input, const LoadLimits &limits) {
    if (input.size() == 0)
        return {{}, reason("The file is empty.")};

    if (looksLikeJpeg(input)) {
        if (const int scans = CountJpegScans(input); scans > kMaxJpegScans)
            return {{},
                    reason("The JPEG has %1 scans, more than %2.").arg(scans).arg(kMaxJpegScans)};
    }

    if (limits.acceptPng)
        if (QString refusal = checkPngChunks(input); !refusal.isEmpty())
            return {{}, refusal};

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

    // Shown as stored, as the clip rectangle is given in stored orientation.
    reader.setAutoTransform(false);
    const QImageIOHandler::Transformations orientation = reader.transformation();
    if (!limits.visibleArea.isEmpty())
        reader.setClipRect(QRect({0, 0}, limits.visibleArea).intersected(QRect({0, 0}, size)));

    input.forgetRequests();
    QImage picture;
    if (limits.visibleArea.isEmpty())
        picture = AllocatePicture(size, reader.imageFormat());
    const bool decoded = reader.read(&picture);
    if (decoderRanShort(format, input))
        return {{}, reason("The file is truncated.")};
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
    return decodePicture(input, limits);
}

PictureLoad LoadPictureBytes(const QByteArray &bytes, const LoadLimits &limits) {
    DecoderInput input;
    input.openBytes(bytes);
    return decodePicture(input, limits);
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
