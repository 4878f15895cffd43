#include "batch_run.h"

#include "batch_pairing.h"

#include <QDir>
#include <QMutex>
#include <QSet>
#include <QThreadPool>
#include <QtConcurrentMap>

namespace duoptica {

BatchSummary runBatch(const BatchRequest &request, const BatchReport &report) {
    BatchSummary summary;
    const QDir inputDir(request.inputDir);
    if (!inputDir.exists() || !inputDir.isReadable()) {
        summary.code = ExitCode::UnreadableInput;
        report.problem(QStringLiteral("%1: cannot read the folder").arg(request.inputDir));
        return summary;
    }
    const FolderPairing pairing = pairPictureFiles(inputDir.entryList(QDir::Files));
    for (const UnpairedFile &file : pairing.unpaired)
        report.problem(
            QStringLiteral("%1: unpaired: %2").arg(inputDir.filePath(file.fileName), file.reason));
    summary.unpaired = int(pairing.unpaired.size());
    if (pairing.pairs.isEmpty()) {
        summary.code = ExitCode::UnreadableInput;
        report.problem(
            QStringLiteral("%1: no NAME_L / NAME_R picture pairs found").arg(request.inputDir));
        return summary;
    }
    if (!QDir().mkpath(request.outputDir)) {
        summary.code = ExitCode::WriteFailure;
        report.problem(QStringLiteral("%1: cannot make the folder").arg(request.outputDir));
        return summary;
    }

    const QDir outputDir(request.outputDir);
    QList<PairJob> jobs;
    QSet<QString> inputs;
    for (const PicturePair &pair : pairing.pairs) {
        PairJob job{inputDir.filePath(pair.leftFile),
                    inputDir.filePath(pair.rightFile),
                    outputDir.filePath(pair.name + u'.' + QString::fromLatin1(request.format)),
                    request.format,
                    request.mode,
                    request.align};
        inputs << QFileInfo(job.leftFile).canonicalFilePath()
               << QFileInfo(job.rightFile).canonicalFilePath();
        jobs.append(std::move(job));
    }

    summary.pairs = int(jobs.size());
    QThreadPool pool;
    // Once there are pairs enough to keep every core busy, each pair runs on one thread.
    const Threads threadsPerPair =
        summary.pairs >= pool.maxThreadCount() ? Threads::One : Threads::All;
    QMutex reportLock;
    int done = 0;
    if (report.progress)
        report.progress(0, summary.pairs);
    const auto runJob = [&](const PairJob &job) {
        Outcome outcome;
        // With the output folder the same as the input folder, NAME.ext may be another pair's
        // input; it is left alone like any input.
        if (inputs.contains(QFileInfo(job.outputFile).canonicalFilePath()))
            outcome = {
                ExitCode::Usage,
                QStringLiteral("%1: the output would overwrite an input").arg(job.outputFile)};
        else
            outcome = combinePairFiles(job, threadsPerPair);
        const QMutexLocker locker(&reportLock);
        if (report.note)
            for (const QString &line : outcome.notes)
                report.note(line);
        if (outcome.code == ExitCode::Success) {
            ++summary.combined;
        } else {
            ++summary.failed;
            report.problem(outcome.message);
        }
        ++done;
        if (report.progress)
            report.progress(done, summary.pairs);
    };
    QtConcurrent::blockingMap(&pool, jobs, runJob);

    if (summary.failed > 0)
        summary.code = ExitCode::BatchPartlyFailed;
    return summary;
}

QString summaryLine(const BatchSummary &summary) {
    QString line =
        QStringLiteral("%1 of %2 pairs combined").arg(summary.combined).arg(summary.pairs);
    if (summary.failed > 0)
        line += QStringLiteral(", %1 failed").arg(summary.failed);
    if (summary.unpaired > 0)
        line += summary.unpaired == 1 ? QStringLiteral(", 1 file unpaired")
                                      : QStringLiteral(", %1 files unpaired").arg(summary.unpaired);
    return line;
}

} // namespace duoptica
