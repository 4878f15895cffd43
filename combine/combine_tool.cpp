#include "combine_tool.h"

#include "batch_run.h"
#include "combine_options.h"
#include "progress_line.h"

#include <QCoreApplication>

#include <cstdio>

namespace duoptica {

namespace {

void printError(const QString &line) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
                 qPrintable(line));
}

int runBatchCommand(const CombineOptions &options) {
    ProgressLine progress(stderr);
    BatchReport report;
    report.problem = [&](const QString &line) {
        progress.message(QCoreApplication::applicationName() + QStringLiteral(": ") + line);
    };
    report.note = report.problem;
    report.progress = [&](int done, int total) { progress.show(done, total); };
    const BatchSummary summary = runBatch(
        {options.inputDir, options.outputDir, options.format, options.mode, options.align}, report);
    progress.finish();
    if (summary.pairs > 0)
        std::printf("%s\n", qPrintable(summaryLine(summary)));
    return exitStatus(summary.code);
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
    const Outcome outcome =
        combinePairFiles({options.leftFile, options.rightFile, options.outputFile, options.format,
                          options.mode, options.align});
    for (const QString &line : outcome.notes)
        printError(line);
    if (outcome.code != ExitCode::Success)
        printError(outcome.message);
    return exitStatus(outcome.code);
}

} // namespace duoptica
