#include "stereo_output.h"

#include "camera_exif.h"
#include "combine_pictures.h"
#include "exif_thumbnail.h"
#include "full_chroma_jpeg.h"
#include "heic_file.h"
#include "huge_pages.h"
#include "mpo_file.h"
#include "packed_bands.h"
#include "picture_file.h"
#include "png_parallel_output.h"
#include "resize_stage.h"
#include "srgb_conversion.h"
#include "stereo_packing.h"
#include "wiggle_animation.h"

#include <QPainter>

namespace duoptica {

namespace {

QString sizeText(QSize size) {
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

Outcome outOfMemory(const PairJob &job, QSize size) {
    return {ExitCode::UnreadableInput,
            QStringLiteral("%1: not enough memory to combine two pictures of %2")
                .arg(job.leftFile, sizeText(size))};
}

int qualityFor(FileFormat format, int jpegQuality) {
    return format == FileFormat::Jpeg ? jpegQuality : -1;
}

Outcome saveFiles(const QList<FileBytes> &files) {
    QString failedFile;
    const QString error = SaveFiles(files, &failedFile);
    return error.isEmpty() ? Outcome() : cannotWrite(failedFile, error);
}

// The picture encoded as the job's format, a JPEG starting with the camera's EXIF or a minimal
// one, with a thumbnail of the picture; empty with the reason in *error.
QByteArray encoded(const PairJob &job, const QImage &picture, const QByteArray &exif,
                   QString *error) {
    const QByteArray bytes =
        job.settings.format == FileFormat::Jpeg && jpegFullChroma(job) && !IsGreyForJpeg(picture)
            ? EncodeFullChromaJpeg(picture, job.settings.jpegQuality, error)
            : EncodePicture(picture, qtFormatName(job.settings.format),
                            qualityFor(job.settings.format, job.settings.jpegQuality), error);
    if (job.settings.format != FileFormat::Jpeg || bytes.isEmpty())
        return bytes;
    ThumbnailAccumulator thumbnail(picture.size());
    thumbnail.addPicture(picture);
    return JpegWithExif(bytes, ExifWithThumbnail(exif, picture.size(), thumbnail.thumbnail()));
}

// The eyes encoded one after the other, so both are in memory before either file is touched.
Outcome writeTwoPictures(const PairJob &job, const EyePictures &eyes) {
    const QStringList names = outputFilesOf(job);
    QList<FileBytes> files;
    for (const auto &[eye, exif] :
         {std::pair{&eyes.left, &eyes.leftExif}, std::pair{&eyes.right, &eyes.rightExif}}) {
        QString error;
        // An MPO's two images go into its one file.
        const QString name =
            job.settings.to == StereoOutput::Pair ? names[files.size()] : job.outputFile;
        files.append({name, encoded(job, *eye, *exif, &error)});
        if (files.back().bytes.isEmpty())
            return cannotWrite(name, error);
    }
    if (job.settings.to == StereoOutput::Mpo) {
        const QByteArray mpo = multiPictureFile(files[0].bytes, files[1].bytes);
        if (mpo.isEmpty())
            return cannotWrite(job.outputFile, QStringLiteral("the JPEG encoder gave no JPEG"));
        return saveFiles({{job.outputFile, mpo}});
    }
    return saveFiles(files);
}

// --fit: the box each eye is sized into, so that what the eyes make fits the frame.
EyeSize fittingEye(StereoOutput to, QSize frame) {
    const bool twoWide = to == StereoOutput::Parallel || to == StereoOutput::Cross;
    const bool twoHigh = to == StereoOutput::OverUnder;
    return {.kind = EyeSize::Kind::Box,
            .width = std::max(1, twoWide ? frame.width() / 2 : frame.width()),
            .height = std::max(1, twoHigh ? frame.height() / 2 : frame.height())};
}

// The picture centred in a black frame. The offsets are even, so that rows, columns and a
// checkerboard keep the left eye on the lines they gave it. Null when memory runs out.
QImage inFrame(const QImage &picture, QSize frame) {
    if (picture.size() == frame)
        return picture;
    QImage framed = AllocatePicture(frame, QImage::Format_RGB32);
    if (framed.isNull())
        return {};
    framed.setDotsPerMeterX(picture.dotsPerMeterX());
    framed.setDotsPerMeterY(picture.dotsPerMeterY());
    framed.fill(Qt::black);
    QPainter painter(&framed);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(((frame.width() - picture.width()) / 2) & ~1,
                      ((frame.height() - picture.height()) / 2) & ~1, picture);
    return framed;
}

// Both eyes as the images of one HEIC, each with its camera's EXIF made upright.
Outcome writeHeic(const PairJob &job, const EyePictures &eyes) {
    QString error;
    const QByteArray heic =
        stereoHeicFile({eyes.left, UprightExif(eyes.leftExif, eyes.left.size())},
                       {eyes.right, UprightExif(eyes.rightExif, eyes.right.size())},
                       job.settings.jpegQuality, &error);
    return heic.isEmpty() ? cannotWrite(job.outputFile, error)
                          : saveFiles({{job.outputFile, heic}});
}

// The two eyes as an animation that swaps them.
Outcome writeWiggle(const PairJob &job, EyePictures eyes) {
    const QSize size = eyes.left.size();
    // The window the stages placed is the pivot: what sits at zero disparity stays still.
    const QColorSpace leftSpace = eyes.left.colorSpace();
    const QColorSpace rightSpace = eyes.right.colorSpace();
    eyes.left = asSourceBitmap(std::move(eyes.left));
    eyes.right = asSourceBitmap(std::move(eyes.right));
    if (eyes.left.isNull() || eyes.right.isNull())
        return outOfMemory(job, size);
    // Neither animation keeps a profile; browsers take their numbers as sRGB.
    convertToSrgb(eyes.left, leftSpace);
    convertToSrgb(eyes.right, rightSpace);
    QString error;
    const QByteArray animation =
        job.settings.format == FileFormat::Webp
            ? wiggleWebp(eyes.left, eyes.right, job.settings.wiggleMs, job.settings.jpegQuality,
                         &error)
            : wiggleGif(eyes.left, eyes.right, job.settings.wiggleMs, &error);
    return animation.isEmpty() ? cannotWrite(job.outputFile, error)
                               : saveFiles({{job.outputFile, animation}});
}

} // namespace

bool jpegFullChroma(const PairJob &job) {
    constexpr int kFullChromaQuality = 95;
    return job.settings.to == StereoOutput::Anaglyph ||
           job.settings.jpegQuality >= kFullChromaQuality;
}

Outcome writeEyes(const PairJob &job, EyePictures eyes, Threads threads) {
    const QSize size = eyes.left.size();
    if (job.settings.to == StereoOutput::Mpo || job.settings.to == StereoOutput::Pair ||
        job.settings.to == StereoOutput::Heic) {
        // A JPEG or a BMP of an eye read with transparency would otherwise differ from the
        // other outputs, which show it on the window's background.
        eyes.left = asSourceBitmap(std::move(eyes.left));
        eyes.right = asSourceBitmap(std::move(eyes.right));
        if (eyes.left.isNull() || eyes.right.isNull())
            return outOfMemory(job, size);
        if (job.settings.to == StereoOutput::Heic)
            return writeHeic(job, eyes);
        return writeTwoPictures(job, eyes);
    }
    if (job.settings.to == StereoOutput::Wiggle)
        return writeWiggle(job, std::move(eyes));
    if (job.settings.fit &&
        !resizeEyes(eyes.left, eyes.right, fittingEye(job.settings.to, *job.settings.fit)))
        return outOfMemory(job, size);
    if (writesPackedBands(job, eyes.left)) {
        const QImage left = asSourceBitmap(std::move(eyes.left));
        const QImage right = asSourceBitmap(std::move(eyes.right));
        if (left.isNull() || right.isNull())
            return outOfMemory(job, size);
        return writePackedBands(job, left, right, eyes.leftExif, threads);
    }
    QImage output = job.settings.to == StereoOutput::Anaglyph
                        ? combinePictures(std::move(eyes.left), std::move(eyes.right),
                                          job.settings.mode, threads)
                        : packEyes(eyes.left, eyes.right, job.settings.to);
    if (job.settings.fit && !output.isNull())
        output = inFrame(output, *job.settings.fit);
    if (output.isNull())
        return outOfMemory(job, size);
    if (job.settings.format == FileFormat::Jpeg) {
        QString error;
        const QByteArray bytes = encoded(job, output, eyes.leftExif, &error);
        return bytes.isEmpty() ? cannotWrite(job.outputFile, error)
                               : saveFiles({{job.outputFile, bytes}});
    }
    // A PNG is deflated a band per core where that keeps all the picture holds.
    const std::unique_ptr<PictureWriter> writer =
        wholePictureWriter(job.settings.format, job.outputFile, threads == Threads::All);
    if (!writer->writePicture(output, qualityFor(job.settings.format, job.settings.jpegQuality)))
        return cannotWrite(writer->error());
    return {};
}

} // namespace duoptica
