#include "combine_tool.h"

#include "batch_leftovers.h"
#include "batch_report_file.h"
#include "batch_run.h"
#include "combine_options.h"
#include "cpu_quota.h"
#include "option_table.h"
#include "pair_files.h"
#include "progress_line.h"
#include "stop_signals.h"
#include "tool_errors.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThreadPool>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <thread>

namespace duoptica {

namespace {

void printError(const QString &line) {
    std::fprintf(toolErrors(), "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
                 qPrintable(line));
}

int runBatchCommand(const CombineOptions &options, const std::atomic<int> &stop) {
    QElapsedTimer timer;
    timer.start();
    BatchReportFile reportFile;
    if (!options.reportFile.isEmpty() && !reportFile.open(options.reportFile)) {
        printError(QStringLiteral("%1: cannot write the report: %2")
                       .arg(options.reportFile, reportFile.errorString()));
        return exitStatus(ExitCode::WriteFailure);
    }
    ProgressLine progress(toolErrors());
    BatchReport report;
    report.problem = [&](const QString &line) {
        progress.message(QCoreApplication::applicationName() + QStringLiteral(": ") + line);
    };
    report.note = report.problem;
    report.progress = [&](int done, int total) { progress.show(done, total); };
    if (!options.reportFile.isEmpty())
        report.pairDone = [&](const PairResult &result) { reportFile.writePair(result); };
    const BatchSummary summary =
        runBatch({.inputDir = options.inputDir,
                  .outputDir = options.outputDir,
                  .settings = options.settings,
                  .jpsLayout = options.layout,
                  .pairNames = options.pairNames,
                  .shard = options.shard,
                  .skipExisting = options.skipExisting,
                  .workers = QThreadPool::globalInstance()->maxThreadCount(),
                  .stop = &stop},
                 report);
    progress.finish();
    if (summary.pairsInFolder > 0)
        std::printf("%s\n", qPrintable(summaryLine(summary)));
    int status = summary.code == ExitCode::Interrupted ? exitStatusForSignal(summary.stopSignal)
                                                       : exitStatus(summary.code);
    if (!options.reportFile.isEmpty()) {
        reportFile.writeSummary(summary, status, timer.elapsed());
        if (!reportFile.errorString().isEmpty()) {
            printError(QStringLiteral("%1: cannot write the report: %2")
                           .arg(options.reportFile, reportFile.errorString()));
            if (status == exitStatus(ExitCode::Success))
                status = exitStatus(ExitCode::WriteFailure);
        }
    }
    if (summary.abandoned) {
        // Threads of pairs that did not stop in time still run; leaving at once is the only
        // safe end, and what they were writing is unnamed or already removed.
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}

// One pair on a thread of its own, so that a stop is heeded within the grace even while a
// decoder that cannot be interrupted reads a large picture: the process then ends without the
// pair, whose output is not yet in place (QSaveFile writes it under another name).
Outcome combineUnlessStopped(const PairJob &job) {
    auto done = std::make_shared<std::promise<Outcome>>();
    std::future<Outcome> outcome = done->get_future();
    std::thread([done, job] { done->set_value(combinePairFiles(job)); }).detach();
    QDeadlineTimer grace(QDeadlineTimer::Forever);
    while (outcome.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
        if (grace.isForever() && job.stopRequested())
            grace.setRemainingTime(kStopGraceMilliseconds);
        if (grace.hasExpired()) {
            std::fflush(nullptr);
            std::_Exit(exitStatusForSignal(job.stop->load()));
        }
    }
    return outcome.get();
}

} // namespace

int runCombineTool(const QStringList &arguments) {
    const ParsedCommandLine parsed = parseCommandLine(arguments);
    switch (parsed.action) {
    case ParsedCommandLine::Action::ShowHelp:
        std::printf("%s", qPrintable(helpText()));
        return exitStatus(ExitCode::Success);
    case ParsedCommandLine::Action::ShowVersion:
        std::printf("%s %s\n", qPrintable(QCoreApplication::applicationName()),
                    qPrintable(QCoreApplication::applicationVersion()));
        return exitStatus(ExitCode::Success);
    case ParsedCommandLine::Action::ShowCompletionWords:
        std::printf("%s", qPrintable(completionWords()));
        return exitStatus(ExitCode::Success);
    case ParsedCommandLine::Action::Fail:
        // Some errors already point to the help for their list; one pointer is enough.
        printError(parsed.error.contains(u"--help")
                       ? parsed.error
                       : parsed.error + QStringLiteral(" (see --help)"));
        return exitStatus(ExitCode::Usage);
    case ParsedCommandLine::Action::Run:
        break;
    }

    const CombineOptions &options = parsed.options;
    // Every pair's bands and the batch's pairs share the one pool, sized to what this process
    // may really use: a container's 1-CPU quota runs one thread, not one a core.
    QThreadPool::globalInstance()->setMaxThreadCount(options.jobs > 0 ? options.jobs
                                                                      : availableCpus());
    const std::atomic<int> &stop = installStopSignals();
    if (options.batch)
        return runBatchCommand(options, stop);
    const PairJob job{.leftFile = options.leftFile,
                      .rightFile = options.rightFile,
                      .outputFile = options.outputFile,
                      .layout = options.layout,
                      .settings = options.settings,
                      .stop = &stop};
    const QStringList outputs = outputFilesOf(job);
    if (options.skipExisting && std::all_of(outputs.begin(), outputs.end(), isFinishedOutput)) {
        printError(QStringLiteral("%1: left as it is: it exists (--skip-existing)")
                       .arg(outputs.join(QStringLiteral(" and "))));
        return exitStatus(ExitCode::Success);
    }
    const Outcome outcome = combineUnlessStopped(job);
    if (outcome.code == ExitCode::Interrupted)
        return exitStatusForSignal(stop.load());
    for (const QString &line : outcome.notes)
        printError(line);
    if (outcome.code != ExitCode::Success)
        printError(outcome.message);
    return exitStatus(outcome.code);
}

} // namespace duoptica
