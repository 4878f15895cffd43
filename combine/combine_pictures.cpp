#include "combine_pictures.h"

#include "bmp_direct.h"
#include "huge_pages.h"
#include "jpeg_stream.h"
#include "picture_file.h"
#include "stereo_input.h"

#include <QFileInfo>
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

QString sizeText(QSize size) {
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

bool isSameFile(const QString &a, const QString &b) {
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    return !canonicalA.isEmpty() && canonicalA == QFileInfo(b).canonicalFilePath();
}

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

Outcome cannotWrite(const QString &outputFile, const QString &why) {
    return {ExitCode::WriteFailure, QStringLiteral("%1: cannot write: %2").arg(outputFile, why)};
}

Outcome combinePairFiles(const PairJob &job, Threads threads) {
    for (const QString &input : {job.leftFile, job.rightFile}) {
        if (isSameFile(job.outputFile, input))
            return {ExitCode::Usage,
                    QStringLiteral("%1: the output would overwrite an input").arg(job.outputFile)};
    }

    if (std::optional<Outcome> direct = combineBmpDirect(job, kMaxPicturePixels, threads))
        return *direct;
    if (std::optional<Outcome> streamed = combineJpegStreamed(job, kMaxPicturePixels, threads))
        return *streamed;

    // The stages of a job, each on the two upright eyes the one before gives.
    EyePictures eyes = readEyes(job, threads);
    if (eyes.failure.code != ExitCode::Success)
        return eyes.failure;
    if (job.swap) {
        std::swap(eyes.left, eyes.right);
        std::swap(eyes.leftName, eyes.rightName);
    }
    if (eyes.left.size() != eyes.right.size())
        return {ExitCode::SizeMismatch,
                QStringLiteral("Pictures not equal size! %1 is %2, %3 is %4")
                    .arg(eyes.leftName, sizeText(eyes.left.size()), eyes.rightName,
                         sizeText(eyes.right.size()))};

    Outcome outcome;
    if (job.align) {
        QString refusal;
        const std::optional<AlignSummary> aligned =
            alignEyes(eyes.left, eyes.right, *job.align, &refusal);
        if (!aligned)
            return {ExitCode::CannotAlign, QStringLiteral("%1: cannot align it with %2: %3")
                                               .arg(eyes.rightName, eyes.leftName, refusal)};
        for (const QString &line : alignmentReport(*aligned, job.align->verbose))
            outcome.notes << eyes.rightName + QStringLiteral(": ") + line;
    }

    const QSize size = eyes.left.size();
    const QImage output =
        combinePictures(std::move(eyes.left), std::move(eyes.right), job.mode, threads);
    if (output.isNull())
        return {ExitCode::UnreadableInput,
                QStringLiteral("%1: not enough memory to combine two pictures of %2")
                    .arg(job.leftFile, sizeText(size))};
    const QString error =
        SavePicture(output, job.outputFile, job.format, job.format == "jpg" ? job.jpegQuality : -1);
    if (!error.isEmpty())
        return cannotWrite(job.outputFile, error);
    return outcome;
}

} // namespace duoptica
