#include "pair_files.h"

#include "bmp_direct.h"
#include "general_path.h"
#include "jpeg_stream.h"
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
    for (const QString &input : {job.leftFile, job.rightFile}) {
        if (isSameFile(job.outputFile, input))
            return {ExitCode::Usage,
                    QStringLiteral("%1: the output would overwrite an input").arg(job.outputFile)};
    }

    if (std::optional<Outcome> direct = combineBmpDirect(job, job.maxPixels, threads))
        return *direct;
    if (std::optional<Outcome> streamed = combineJpegStreamed(job, job.maxPixels, threads))
        return *streamed;
    return combineWholePictures(job, threads);
}

} // namespace duoptica
