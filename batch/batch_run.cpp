#include "batch_run.h"

#include "batch_leftovers.h"
#include "batch_pairing.h"
#include "disk_sync.h"
#include "embedded_eyes.h"
#include "pair_files.h"
#include "stereo_input.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFuture>
#include <QImageReader>
#include <QMutex>
#include <QSemaphore>
#include <QSet>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrentMap>

#include <algorithm>
#include <memory>
#include <utility>

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

// Pairs that may wait for the disk beyond the workers. Each holds what its pair still held when
// it finished, so memory grows by at most this many pairs.
constexpr int kPairsWaitingForTheDisk = 2;

// A worker's share of the processor: a pair takes one before it starts, and gives it to the next
// pair once its output is being synced to disk. What follows the sync (the rename into place, the
// bytes of a second file already encoded, the report) leaves no work worth a core.
class CoreShare final : public DiskWaitListener {
public:
    explicit CoreShare(QSemaphore &cores)
        : cores_(cores) {
        cores_.acquire();
    }
    ~CoreShare() { giveBack(); }
    CoreShare(const CoreShare &) = delete;
    CoreShare &operator=(const CoreShare &) = delete;

    void waitBegins() override { giveBack(); }

private:
    void giveBack() {
        if (std::exchange(held_, false))
            cores_.release();
    }

    QSemaphore &cores_;
    bool held_ = true;
};

bool stopRequested(const BatchRequest &request) {
    return request.stop && request.stop->load() != 0;
}

// What the pairs' threads share with the run. They hold it too, so that a run may return while
// pairs it abandoned after a stop are still running.
struct RunState {
    RunState(const BatchRequest &request, const BatchReport &report)
        : request(request)
        , report(report) {}

    const BatchRequest request;
    const BatchReport report;
    QList<PairJob> jobs;
    QSet<QString> inputs;
    QHash<QString, QStringList> leftovers;
    Threads threadsPerPair = Threads::All;
    QSemaphore cores; // one for each worker

    QMutex lock; // guards what follows, and the report's calls
    BatchSummary summary;
    ExitCode worstFailure = ExitCode::Success;
    int done = 0;
    QSet<QString> running; // file names of the outputs being written
    bool abandoned = false;
};

void runJob(RunState &state, const PairJob &job) {
    CoreShare core(state.cores);
    const DiskWaitScope lendsItsCore(core);
    // After a stop no pair starts.
    if (job.stopRequested())
        return;
    QElapsedTimer timer;
    timer.start();
    // A pair of files (--to pair) has two outputs; every other output format one.
    const QStringList outputs = outputFilesOf(job);
    QStringList outputNames;
    for (const QString &output : outputs) {
        outputNames << QFileInfo(output).fileName();
        for (const QString &leftover : state.leftovers.value(outputNames.back()))
            QFile::remove(leftover);
    }
    {
        const QMutexLocker locker(&state.lock);
        for (const QString &name : outputNames)
            state.running.insert(name);
    }
    Outcome outcome;
    PairStatus status = PairStatus::Combined;
    // With the output folder the same as the input folder, NAME.ext may be another pair's
    // input; it is left alone like any input.
    const auto isInput = [&](const QString &output) {
        return state.inputs.contains(QFileInfo(output).canonicalFilePath());
    };
    const auto overwritten = std::find_if(outputs.begin(), outputs.end(), isInput);
    if (overwritten != outputs.end())
        outcome = {ExitCode::Usage,
                   QStringLiteral("%1: the output would overwrite an input").arg(*overwritten)};
    else if (state.request.skipExisting &&
             std::all_of(outputs.begin(), outputs.end(), isFinishedOutput))
        status = PairStatus::Skipped;
    else
        outcome = combinePairFiles(job, state.threadsPerPair);
    if (outcome.code != ExitCode::Success)
        status = PairStatus::Failed;
    const BatchReport &report = state.report;
    const qint64 pixels =
        report.pairDone && status != PairStatus::Failed ? picturePixels(outputs.front()) : 0;
    const QMutexLocker locker(&state.lock);
    for (const QString &name : outputNames)
        state.running.remove(name);
    // A stopped pair wrote nothing and is no result; after an abandonment the run has told
    // all it will.
    if (outcome.code == ExitCode::Interrupted || state.abandoned)
        return;
    BatchSummary &summary = state.summary;
    if (report.note)
        for (const QString &line : outcome.notes)
            report.note(line);
    if (status == PairStatus::Combined) {
        ++summary.combined;
    } else if (status == PairStatus::Skipped) {
        ++summary.skipped;
    } else {
        ++summary.failed;
        state.worstFailure = std::max(state.worstFailure, outcome.code);
        report.problem(outcome.message);
    }
    if (report.pairDone)
        report.pairDone({job, status, outcome, timer.elapsed(), pixels});
    ++state.done;
    if (report.progress)
        report.progress(state.done, summary.pairs);
}

// With OUTDIR the same folder as INDIR, the outputs of an earlier run are no unused pictures.
void leaveOutOwnOutputs(FolderPairing &pairing, const BatchRequest &request) {
    const QString inputDir = QFileInfo(request.inputDir).canonicalFilePath();
    if (inputDir.isEmpty() || inputDir != QFileInfo(request.outputDir).canonicalFilePath())
        return;
    QSet<QString> outputs;
    for (const PicturePair &pair : std::as_const(pairing.pairs))
        outputs << (pair.name + u'.' + batchExtension(request.settings)).toLower();
    pairing.unpaired.removeIf(
        [&](const UnpairedFile &file) { return outputs.contains(file.fileName.toLower()); });
}

// The folder's unpaired files, refused entries and clashing names, each in one line.
void reportFolderProblems(const QDir &inputDir, const FolderPairing &pairing,
                          const BatchReport &report, BatchSummary &summary) {
    for (const UnpairedFile &file : pairing.unpaired) {
        summary.unpairedFiles.append({inputDir.filePath(file.fileName), file.reason});
        report.problem(QStringLiteral("%1: unpaired: %2")
                           .arg(summary.unpairedFiles.back().fileName, file.reason));
    }
    for (const UnpairedFile &entry : pairing.refused) {
        summary.unpairedFiles.append(
            {inputDir.filePath(entry.fileName), QStringLiteral("cannot read it: ") + entry.reason});
        report.problem(QStringLiteral("%1: %2").arg(summary.unpairedFiles.back().fileName,
                                                    summary.unpairedFiles.back().reason));
    }
    summary.unpaired = int(summary.unpairedFiles.size());
    for (const PicturePair &input : pairing.clashing)
        report.problem(QStringLiteral("%1: another input is also named '%2'; neither is written")
                           .arg(inputDir.filePath(input.stereoFile.isEmpty() ? input.leftFile
                                                                             : input.stereoFile),
                                input.name));
    summary.failed = int(pairing.clashing.size());
}

// This shard's pairs as jobs, and every pair's inputs, also other shards': none may be
// overwritten by this shard's outputs.
void addJobs(RunState &state, const QDir &inputDir, const QDir &outputDir,
             const FolderPairing &pairing) {
    const BatchRequest &request = state.request;
    const QString extension = batchExtension(request.settings);
    for (qsizetype position = 0; position < pairing.pairs.size(); ++position) {
        const PicturePair &pair = pairing.pairs[position];
        PairJob job{.leftFile = inputDir.filePath(pair.leftFile),
                    .rightFile = inputDir.filePath(pair.rightFile),
                    .outputFile = outputDir.filePath(pair.name + u'.' + extension),
                    .settings = request.settings,
                    .stop = request.stop};
        if (!pair.stereoFile.isEmpty()) {
            job.leftFile = inputDir.filePath(pair.stereoFile);
            job.rightFile.clear();
            job.layout = isJpsFile(pair.stereoFile) ? request.jpsLayout : StereoLayout::FromFile;
        }
        state.inputs << QFileInfo(job.leftFile).canonicalFilePath();
        if (!job.rightFile.isEmpty())
            state.inputs << QFileInfo(job.rightFile).canonicalFilePath();
        if (request.shard.takes(position))
            state.jobs.append(std::move(job));
    }
}

// Runs the jobs, a core each, until all are done or, after a stop, the grace runs out; the
// pairs still running then are abandoned, their temporary files removed.
BatchSummary runJobsOnPool(const std::shared_ptr<RunState> &state, const QDir &outputDir) {
    const BatchRequest &request = state->request;
    const int workers = state->summary.workers;
    // The pool outlives the run when pairs are abandoned after a stop; the process ends then. It
    // has threads beyond the workers for the pairs waiting for the disk, which hold no core.
    state->cores.release(workers);
    auto pool = std::make_unique<QThreadPool>();
    pool->setMaxThreadCount(workers + kPairsWaitingForTheDisk);
    const QFuture<void> running = QtConcurrent::map(
        pool.get(), state->jobs, [state](const PairJob &job) { runJob(*state, job); });
    QDeadlineTimer grace(QDeadlineTimer::Forever);
    while (!running.isFinished() && !grace.hasExpired()) {
        if (grace.isForever() && stopRequested(request))
            grace.setRemainingTime(kStopGraceMilliseconds);
        // The pool has no timed wait; a hundredth of a second is well inside the grace.
        QThread::msleep(10);
    }

    const QMutexLocker locker(&state->lock);
    BatchSummary summary = state->summary;
    if (!running.isFinished()) {
        state->abandoned = true;
        summary.abandoned = true;
        (void)pool.release();
        // Where QSaveFile names its temporary files, an abandoned pair's would stay behind.
        const QHash<QString, QStringList> named =
            findLeftoverTemporaries(outputDir, QDateTime::currentDateTimeUtc().addSecs(1));
        for (const QString &output : std::as_const(state->running))
            for (const QString &leftover : named.value(output))
                QFile::remove(leftover);
    }
    return summary;
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
    FolderPairing pairing =
        pairPictureFiles(files, irregularEntries, request.pairNames, [&](const QString &file) {
            return HidesEmbeddedEyes(inputDir.filePath(file));
        });
    leaveOutOwnOutputs(pairing, request);
    // Unpaired files and clashing names are reported by shard 0 alone, so that the shards of one
    // batch report each once.
    if (request.shard.index == 0)
        reportFolderProblems(inputDir, pairing, report, summary);
    // The status of a batch that writes no pair: the highest of its failures' statuses.
    ExitCode worstFailure = pairing.clashing.isEmpty() ? ExitCode::Success : ExitCode::Usage;
    if (pairing.pairs.isEmpty() && pairing.clashing.isEmpty()) {
        summary.code = ExitCode::UnreadableInput;
        report.problem(
            QStringLiteral("%1: no left and right picture pairs, .mpo or .jps files found")
                .arg(request.inputDir));
        return summary;
    }
    if (!QDir().mkpath(request.outputDir)) {
        summary.code = ExitCode::WriteFailure;
        report.problem(QStringLiteral("%1: cannot make the folder").arg(request.outputDir));
        return summary;
    }

    const QDir outputDir(request.outputDir);
    const auto state = std::make_shared<RunState>(request, report);
    state->leftovers = findLeftoverTemporaries(outputDir, startedAt);
    summary.pairsInFolder = int(pairing.pairs.size() + pairing.clashing.size());
    addJobs(*state, inputDir, outputDir, pairing);

    summary.pairs = int(state->jobs.size()) + summary.failed; // the clashing ones count as failed
    summary.workers = std::max(1, request.workers);
    state->summary = summary;
    state->worstFailure = worstFailure;
    // Once there are pairs enough to keep every worker busy, each pair runs on one thread.
    state->threadsPerPair = state->jobs.size() >= summary.workers ? Threads::One : Threads::All;
    state->done = summary.failed; // the clashing ones, already reported
    if (report.progress)
        report.progress(state->done, summary.pairs);
    summary = runJobsOnPool(state, outputDir);
    // Abandoned pairs may still report.
    const QMutexLocker locker(&state->lock);
    if (stopRequested(request)) {
        summary.code = ExitCode::Interrupted;
        summary.stopSignal = request.stop->load();
        summary.unfinished = summary.pairs - summary.combined - summary.skipped - summary.failed;
    } else if (summary.failed > 0) {
        // 6 says that some outputs are there; with none (a full disk, an output folder that
        // cannot be written), the failures' own status tells what went wrong.
        summary.code = summary.combined + summary.skipped > 0 ? ExitCode::BatchPartlyFailed
                                                              : state->worstFailure;
    }
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
    if (summary.unfinished > 0)
        line += QStringLiteral(", %1 unfinished (stopped)").arg(summary.unfinished);
    if (summary.unpaired > 0)
        line += summary.unpaired == 1 ? QStringLiteral(", 1 file unpaired")
                                      : QStringLiteral(", %1 files unpaired").arg(summary.unpaired);
    return line;
}

} // namespace duoptica
