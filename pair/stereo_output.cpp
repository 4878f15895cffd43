#include "stereo_output.h"

#include "camera_exif.h"
#include "combine_pictures.h"
#include "heic_file.h"
#include "mpo_file.h"
#include "picture_file.h"
#include "png_parallel_output.h"
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

int qualityFor(FileFormat format, int jpegQuality) {
    return format == FileFormat::Jpeg ? jpegQuality : -1;
}

Outcome saveFiles(const QList<FileBytes> &files) {
    QString failedFile;
    const QString error = SaveFiles(files, &failedFile);
    return error.isEmpty() ? Outcome() : cannotWrite(failedFile, error);
}

// The picture encoded as the job's format, a JPEG with the camera's EXIF; empty with the
// reason in *error.
QByteArray encoded(const PairJob &job, const QImage &picture, const QByteArray &exif,
                   QString *error) {
    const QByteArray bytes =
        EncodePicture(picture, qtFormatName(job.settings.format),
                      qualityFor(job.settings.format, job.settings.jpegQuality), error);
    if (job.settings.format != FileFormat::Jpeg || bytes.isEmpty())
        return bytes;
    return JpegWithExif(bytes, UprightExif(exif, picture.size()));
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

} // namespace

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
    if (job.settings.to == StereoOutput::Wiggle) {
        // The window the stages placed is the pivot: what sits at zero disparity stays still.
        eyes.left = asSourceBitmap(std::move(eyes.left));
        eyes.right = asSourceBitmap(std::move(eyes.right));
        if (eyes.left.isNull() || eyes.right.isNull())
            return outOfMemory(job, size);
        QString error;
        const QByteArray animation =
            job.settings.format == FileFormat::Webp
                ? wiggleWebp(eyes.left, eyes.right, job.settings.wiggleMs, job.settings.jpegQuality,
                             &error)
                : wiggleGif(eyes.left, eyes.right, job.settings.wiggleMs, &error);
        return animation.isEmpty() ? cannotWrite(job.outputFile, error)
                                   : saveFiles({{job.outputFile, animation}});
    }
    const QImage output = job.settings.to == StereoOutput::Anaglyph
                              ? combinePictures(std::move(eyes.left), std::move(eyes.right),
                                                job.settings.mode, threads)
                              : packEyes(eyes.left, eyes.right, job.settings.to);
    if (output.isNull())
        return outOfMemory(job, size);
    if (job.settings.format == FileFormat::Jpeg && !eyes.leftExif.isEmpty()) {
        QString error;
        const QByteArray bytes = encoded(job, output, eyes.leftExif, &error);
        return bytes.isEmpty() ? cannotWrite(job.outputFile, error)
                               : saveFiles({{job.outputFile, bytes}});
    }
    // A PNG is deflated a band per core where that keeps all the picture holds.
    const QString error =
        job.settings.format == FileFormat::Png && canWritePngInParallel(output)
            ? writePngInParallel(output, job.outputFile, threads == Threads::All)
            : SavePicture(output, job.outputFile, qtFormatName(job.settings.format),
                          qualityFor(job.settings.format, job.settings.jpegQuality));
    if (!error.isEmpty())
        return cannotWrite(job.outputFile, error);
    return {};
}

} // namespace duoptica
