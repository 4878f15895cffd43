// The command line of duoptica-combine: what it may say, and what it asks for once understood.
#pragma once

#include "align_stage.h"
#include "pixel_rule.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace duoptica {

struct CombineOptions {
    CombineMode mode = CombineMode::Normal;
    bool batch = false;
    // One pair: LEFT RIGHT OUTPUT.
    QString leftFile;
    QString rightFile;
    QString outputFile;
    // A batch: INDIR OUTDIR.
    QString inputDir;
    QString outputDir;
    // Writer format: from OUTPUT's extension for one pair, from --format for a batch.
    QByteArray format = "bmp";
    std::optional<AlignOptions> align; // --align, with --window and --verbose
};

struct ParsedCommandLine {
    enum class Action { Run, ShowHelp, ShowVersion, Fail };
    Action action = Action::Fail;
    CombineOptions options;
    QString error; // set when action is Fail
};

// arguments as QCoreApplication::arguments() gives them, the program name first.
ParsedCommandLine parseCommandLine(const QStringList &arguments);

// The writer format for an output file name: "bmp", "png" or "jpg"; empty when not supported.
QByteArray formatForFileName(const QString &fileName);

QString helpText();

} // namespace duoptica
