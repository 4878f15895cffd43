#include "pair_job.h"

#include <QFileInfo>

namespace duoptica {

Outcome cannotWrite(const QString &outputFile, const QString &why) {
    return {ExitCode::WriteFailure, QStringLiteral("%1: cannot write: %2").arg(outputFile, why)};
}

Outcome cannotWrite(const WriteError &error) {
    return cannotWrite(error.fileName, error.reason);
}

Outcome interrupted(const PairJob &job) {
    return {ExitCode::Interrupted,
            QStringLiteral("%1: stopped by a signal before it was written").arg(job.outputFile)};
}

QString batchExtension(const PairSettings &settings) {
    for (const OutputFormat &format : outputFormats())
        if (format.impliedOutput == settings.to)
            return format.name;
    return extensionOf(settings.format);
}

QStringList outputFilesOf(const PairJob &job) {
    if (job.settings.to != StereoOutput::Pair)
        return {job.outputFile};
    const QString suffix = QFileInfo(job.outputFile).suffix();
    const QString stem =
        suffix.isEmpty() ? job.outputFile : job.outputFile.chopped(suffix.size() + 1);
    if (!suffix.isEmpty())
        return {stem + QStringLiteral("_L.") + suffix, stem + QStringLiteral("_R.") + suffix};
    return {stem + QStringLiteral("_L"), stem + QStringLiteral("_R")};
}

} // namespace duoptica
