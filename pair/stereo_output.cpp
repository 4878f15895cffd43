#include "stereo_output.h"

#include "combine_pictures.h"
#include "mpo_file.h"
#include "picture_file.h"
#include "stereo_packing.h"

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

// The eyes encoded one after the other, so both are in memory before either file is touched.
Outcome writeTwoPictures(const PairJob &job, const QImage &left, const QImage &right) {
    const QStringList names = outputFilesOf(job);
    QList<FileBytes> files;
    for (const QImage *eye : {&left, &right}) {
        QString error;
        const QString &name = names[files.size()];
        files.append({name, EncodePicture(*eye, job.format, qualityFor(job.format, job.jpegQuality),
                                          &error)});
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

Outcome writeEyes(const PairJob &job, QImage left, QImage right, Threads threads) {
    const QSize size = left.size();
    if (job.to == StereoOutput::Mpo || job.to == StereoOutput::Pair) {
        // A JPEG or a BMP of an eye read with transparency would otherwise differ from the
        // other outputs, which show it on the window's background.
        left = asSourceBitmap(std::move(left));
        right = asSourceBitmap(std::move(right));
        if (left.isNull() || right.isNull())
            return outOfMemory(job, size);
        return writeTwoPictures(job, left, right);
    }
    const QImage output =
        job.to == StereoOutput::Anaglyph
            ? combinePictures(std::move(left), std::move(right), job.mode, threads)
            : packEyes(left, right, job.to);
    if (output.isNull())
        return outOfMemory(job, size);
    const QString error =
        SavePicture(output, job.outputFile, job.format, qualityFor(job.format, job.jpegQuality));
    if (!error.isEmpty())
        return cannotWrite(job.outputFile, error);
    return {};
}

} // namespace duoptica
