#include "stereo_output.h"

#include "camera_exif.h"
#include "combine_pictures.h"
#include "exif_thumbnail.h"
#include "full_chroma_jpeg.h"
#include "mpo_file.h"
#include "picture_file.h"
#include "png_parallel_output.h"
#include "srgb_conversion.h"
#include "stereo_packing.h"
#include "wiggle_animation.h"

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

int qualityFor(const QByteArray &format, int jpegQuality) {
    return format == "jpg" ? jpegQuality : -1;
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
        job.format == "jpg" && jpegFullChroma(job) && !IsGreyForJpeg(picture)
            ? EncodeFullChromaJpeg(picture, job.jpegQuality, error)
            : EncodePicture(picture, job.format, qualityFor(job.format, job.jpegQuality), error);
    if (job.format != "jpg" || bytes.isEmpty())
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
        const QString name = job.to == StereoOutput::Pair ? names[files.size()] : job.outputFile;
        files.append({name, encoded(job, *eye, *exif, &error)});
        if (files.back().bytes.isEmpty())
            return cannotWrite(name, error);
    }
    if (job.to == StereoOutput::Mpo) {
        const QByteArray mpo = multiPictureFile(files[0].bytes, files[1].bytes);
        if (mpo.isEmpty())
            return cannotWrite(job.outputFile, QStringLiteral("the JPEG encoder gave no JPEG"));
        return saveFiles({{job.outputFile, mpo}});
    }
    return saveFiles(files);
}

} // namespace

bool jpegFullChroma(const PairJob &job) {
    constexpr int kFullChromaQuality = 95;
    return job.to == StereoOutput::Anaglyph || job.jpegQuality >= kFullChromaQuality;
}

Outcome writeEyes(const PairJob &job, EyePictures eyes, Threads threads) {
    const QSize size = eyes.left.size();
    if (job.to == StereoOutput::Mpo || job.to == StereoOutput::Pair) {
        // A JPEG or a BMP of an eye read with transparency would otherwise differ from the
        // other outputs, which show it on the window's background.
        eyes.left = asSourceBitmap(std::move(eyes.left));
        eyes.right = asSourceBitmap(std::move(eyes.right));
        if (eyes.left.isNull() || eyes.right.isNull())
            return outOfMemory(job, size);
        return writeTwoPictures(job, eyes);
    }
    if (job.to == StereoOutput::Wiggle) {
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
            job.format == "webp"
                ? wiggleWebp(eyes.left, eyes.right, job.wiggleMs, job.jpegQuality, &error)
                : wiggleGif(eyes.left, eyes.right, job.wiggleMs, &error);
        return animation.isEmpty() ? cannotWrite(job.outputFile, error)
                                   : saveFiles({{job.outputFile, animation}});
    }
    const QImage output =
        job.to == StereoOutput::Anaglyph
            ? combinePictures(std::move(eyes.left), std::move(eyes.right), job.mode, threads)
            : packEyes(eyes.left, eyes.right, job.to);
    if (output.isNull())
        return outOfMemory(job, size);
    if (job.format == "jpg") {
        QString error;
        const QByteArray bytes = encoded(job, output, eyes.leftExif, &error);
        return bytes.isEmpty() ? cannotWrite(job.outputFile, error)
                               : saveFiles({{job.outputFile, bytes}});
    }
    // A PNG is deflated a band per core where that keeps all the picture holds.
    const QString error = job.format == "png" && canWritePngInParallel(output)
                              ? writePngInParallel(output, job.outputFile, threads == Threads::All)
                              : SavePicture(output, job.outputFile, job.format,
                                            qualityFor(job.format, job.jpegQuality));
    if (!error.isEmpty())
        return cannotWrite(job.outputFile, error);
    return {};
}

} // namespace duoptica
