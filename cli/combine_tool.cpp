#include "combine_tool.h"

#include "batch_report_file.h"
#include "batch_run.h"
#include "combine_options.h"
#include "pair_files.h"
#include "progress_line.h"
#include "tool_errors.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

namespace duoptica {

namespace {

void printError(const QString &line) {
    std::fprintf(toolErrors(), "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
                 qPrintable(line));
}

int runBatchCommand(const CombineOptions &options) {
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
        runBatch({options.inputDir, options.outputDir, options.format, options.mode, options.layout,
                  options.swap, options.jpegQuality, options.shard, options.skipExisting,
                  options.align, options.maxPixels},
                 report);
    progress.finish();
    if (summary.pairsInFolder > 0)
        std::printf("%s\n", qPrintable(summaryLine(summary)));
    int status = exitStatus(summary.code);
    if (!options.reportFile.isEmpty()) {
        reportFile.writeSummary(summary, status, timer.elapsed());
        if (!reportFile.errorString().isEmpty()) {
            printError(QStringLiteral("%1: cannot write the report: %2")
                           .arg(options.reportFile, reportFile.errorString()));
            if (status == exitStatus(ExitCode::Success))
                status = exitStatus(ExitCode::WriteFailure);
        }
    }
    return status;
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
    case ParsedCommandLine::Action::Fail:
        printError(parsed.error + QStringLiteral(" (see --help)"));
        return exitStatus(ExitCode::Usage);
    case ParsedCommandLine::Action::Run:
        break;
    }

    const CombineOptions &options = parsed.options;
    if (options.batch)
        return runBatchCommand(options);
    const Outcome outcome = combinePairFiles(
        {options.leftFile, options.rightFile, options.outputFile, options.format, options.mode,
         options.layout, options.swap, options.jpegQuality, options.align, options.maxPixels});
    for (const QString &line : outcome.notes)
        printError(line);
    if (outcome.code != ExitCode::Success)
        printError(outcome.message);
    return exitStatus(outcome.code);
}

} // namespace duoptica
