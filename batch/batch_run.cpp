#include "batch_run.h"

#include "batch_leftovers.h"
#include "batch_pairing.h"
#include "pair_files.h"
#include "stereo_input.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QMutex>
#include <QSet>
#include <QThreadPool>
#include <QtConcurrentMap>

#include <algorithm>

namespace duoptica {

namespace {

qint64 picturePixels(const QString &file) {
    const QSize size = QImageReader(file).size();
    return size.isValid() ? qint64(size.width()) * size.height() : 0;
}

// The folder's regular files (links to them too), and its other entries with what they are.
// QDir::Files alone would leave out a FIFO or a link loop named like a picture without a word.
std::pair<QStringList, QList<UnpairedFile>> folderEntries(const QDir &folder) {
    QStringList files;
    QList<UnpairedFile> others;
    for (const QFileInfo &entry :
         folder.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        if (entry.isFile())
            files << entry.fileName();
        else if (entry.isDir())
            others.append({entry.fileName(), QStringLiteral("a folder, not a picture file")});
        else if (entry.isSymLink())
            others.append({entry.fileName(),
                           QStringLiteral("a symbolic link that leads to no file (or in a loop)")});
        else
            others.append({entry.fileName(),
                           QStringLiteral("not a regular file (a FIFO, socket or device)")});
    }
    return {files, others};
}

} // namespace

BatchSummary runBatch(const BatchRequest &request, const BatchReport &report) {
    // Temporary files from before this moment are no live run's.
    const QDateTime startedAt = QDateTime::currentDateTimeUtc();
    BatchSummary summary;
    summary.shard = request.shard;
    const QDir inputDir(request.inputDir);
    if (!inputDir.exists() || !inputDir.isReadable()) {
        summary.code = ExitCode::UnreadableInput;
        report.problem(QStringLiteral("%1: cannot read the folder").arg(request.inputDir));
        return summary;
    }
    const auto [files, irregularEntries] = folderEntries(inputDir);
    const FolderPairing pairing = pairPictureFiles(files, irregularEntries);
    // Unpaired files and clashing names are reported by shard 0 alone, so that the shards of one
    // batch report each once.
    const bool reportsFolderProblems = request.shard.index == 0;
    if (reportsFolderProblems) {
        for (const UnpairedFile &file : pairing.unpaired)
            report.problem(QStringLiteral("%1: unpaired: %2")
                               .arg(inputDir.filePath(file.fileName), file.reason));
        for (const UnpairedFile &entry : pairing.refused)
            report.problem(QStringLiteral("%1: cannot read it: %2")
                               .arg(inputDir.filePath(entry.fileName), entry.reason));
        summary.unpaired = int(pairing.unpaired.size() + pairing.refused.size());
        for (const PicturePair &input : pairing.clashing)
            report.problem(
                QStringLiteral("%1: another input is also named '%2'; neither is written")
                    .arg(inputDir.filePath(input.stereoFile.isEmpty() ? input.leftFile
                                                                      : input.stereoFile),
                         input.name));
        summary.failed = int(pairing.clashing.size());
    }
    // The status of a batch that writes no pair: the highest of its failures' statuses.
    ExitCode worstFailure = pairing.clashing.isEmpty() ? ExitCode::Success : ExitCode::Usage;
    if (pairing.pairs.isEmpty() && pairing.clashing.isEmpty()) {
        summary.code = ExitCode::UnreadableInput;
        report.problem(
            QStringLiteral("%1: no NAME_L / NAME_R picture pairs, .mpo or .jps files found")
                .arg(request.inputDir));
        return summary;
    }
    if (!QDir().mkpath(request.outputDir)) {
        summary.code = ExitCode::WriteFailure;
        report.problem(QStringLiteral("%1: cannot make the folder").arg(request.outputDir));
        return summary;
    }

    const QDir outputDir(request.outputDir);
    const QHash<QString, QStringList> leftovers = findLeftoverTemporaries(outputDir, startedAt);
    QList<PairJob> jobs;
    QSet<QString> inputs;
    summary.pairsInFolder = int(pairing.pairs.size() + pairing.clashing.size());
    for (qsizetype position = 0; position < pairing.pairs.size(); ++position) {
        const PicturePair &pair = pairing.pairs[position];
        PairJob job{inputDir.filePath(pair.leftFile), inputDir.filePath(pair.rightFile),
                    outputDir.filePath(pair.name + u'.' + QString::fromLatin1(request.format)),
                    request.format, request.mode};
        if (!pair.stereoFile.isEmpty()) {
            job.leftFile = inputDir.filePath(pair.stereoFile);
            job.rightFile.clear();
            job.layout = isJpsFile(pair.stereoFile) ? request.jpsLayout : StereoLayout::FromFile;
        }
        job.swap = request.swap;
        job.align = request.align;
        job.jpegQuality = request.jpegQuality;
        job.maxPixels = request.maxPixels;
        // Every pair's inputs, also other shards': none may be overwritten by this shard's outputs.
        inputs << QFileInfo(job.leftFile).canonicalFilePath();
        if (!job.rightFile.isEmpty())
            inputs << QFileInfo(job.rightFile).canonicalFilePath();
        if (request.shard.takes(position))
            jobs.append(std::move(job));
    }

    summary.pairs = int(jobs.size()) + summary.failed; // the clashing ones count as failed
    QThreadPool pool;
    // Once there are pairs enough to keep every core busy, each pair runs on one thread.
    const Threads threadsPerPair =
        jobs.size() >= pool.maxThreadCount() ? Threads::One : Threads::All;
    QMutex reportLock;
    int done = summary.failed; // the clashing ones, already reported
    if (report.progress)
        report.progress(done, summary.pairs);
    const auto runJob = [&](const PairJob &job) {
        QElapsedTimer timer;
        timer.start();
        for (const QString &leftover : leftovers.value(QFileInfo(job.outputFile).fileName()))
            QFile::remove(leftover);
        Outcome outcome;
        PairStatus status = PairStatus::Combined;
        // With the output folder the same as the input folder, NAME.ext may be another pair's
        // input; it is left alone like any input.
        if (inputs.contains(QFileInfo(job.outputFile).canonicalFilePath()))
            outcome = {
                ExitCode::Usage,
                QStringLiteral("%1: the output would overwrite an input").arg(job.outputFile)};
        else if (request.skipExisting && isFinishedOutput(job.outputFile))
            status = PairStatus::Skipped;
        else
            outcome = combinePairFiles(job, threadsPerPair);
        if (outcome.code != ExitCode::Success)
            status = PairStatus::Failed;
        const qint64 pixels =
            report.pairDone && status != PairStatus::Failed ? picturePixels(job.outputFile) : 0;
        const QMutexLocker locker(&reportLock);
        if (report.note)
            for (const QString &line : outcome.notes)
                report.note(line);
        if (status == PairStatus::Combined) {
            ++summary.combined;
        } else if (status == PairStatus::Skipped) {
            ++summary.skipped;
        } else {
            ++summary.failed;
            worstFailure = std::max(worstFailure, outcome.code);
            report.problem(outcome.message);
        }
        if (report.pairDone)
            report.pairDone({job, status, outcome, timer.elapsed(), pixels});
        ++done;
        if (report.progress)
            report.progress(done, summary.pairs);
    };
    QtConcurrent::blockingMap(&pool, jobs, runJob);

    // 6 says that some outputs are there; with none (a full disk, an output folder that cannot be
    // written), the failures' own status tells what went wrong.
    if (summary.failed > 0)
        summary.code =
            summary.combined + summary.skipped > 0 ? ExitCode::BatchPartlyFailed : worstFailure;
    return summary;
}

QString summaryLine(const BatchSummary &summary) {
    QString line =
        summary.shard.isWhole()
            ? QString()
            : QStringLiteral("shard %1/%2: ").arg(summary.shard.index).arg(summary.shard.count);
    line += QStringLiteral("%1 of %2 pairs combined").arg(summary.combined).arg(summary.pairs);
    if (summary.skipped > 0)
        line += QStringLiteral(", %1 skipped").arg(summary.skipped);
    if (summary.failed > 0)
        line += QStringLiteral(", %1 failed").arg(summary.failed);
    if (summary.unpaired > 0)
        line += summary.unpaired == 1 ? QStringLiteral(", 1 file unpaired")
                                      : QStringLiteral(", %1 files unpaired").arg(summary.unpaired);
    return line;
}

} // namespace duoptica
