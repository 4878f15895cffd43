#include "pair_files.h"

#include "bmp_direct.h"
#include "general_path.h"
#include "jpeg_stream.h"
#include "lossless_copy.h"
#include "picture_file.h"

#include <QFileInfo>

namespace duoptica {

namespace {

bool isSameFile(const QString &a, const QString &b) {
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    return !canonicalA.isEmpty() && canonicalA == QFileInfo(b).canonicalFilePath();
}

} // namespace

Outcome combinePairFiles(const PairJob &job, Threads threads) {
    for (const QString &output : outputFilesOf(job))
        for (const QString &input : {job.leftFile, job.rightFile})
            if (isSameFile(output, input))
                return {ExitCode::Usage,
                        QStringLiteral("%1: the output would overwrite an input").arg(output)};

    if (std::optional<Outcome> copied = copyJpegsLosslessly(job))
        return *copied;
    // The direct path combines; the streamed one also puts eyes side by side. Other packings, and
    // a moved eye, take whole pictures.
    if (job.settings.to == StereoOutput::Anaglyph && !job.settings.windowShift)
        if (std::optional<Outcome> direct = combineBmpDirect(job, job.settings.maxPixels, threads))
            return *direct;
    if (std::optional<Outcome> streamed = combineJpegStreamed(job, job.settings.maxPixels, threads))
        return *streamed;
    return combineWholePictures(job, threads);
}

} // namespace duoptica
