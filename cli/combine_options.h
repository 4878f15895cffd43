// The command line of duoptica-combine: what it may say, and what it asks for once understood.
#pragma once

#include "align_stage.h"
#include "batch_shard.h"
#include "pair_job.h"
#include "picture_file.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace duoptica {

struct CombineOptions {
    AnaglyphMethod mode = AnaglyphMethod::Normal;
    bool batch = false;
    // One pair: LEFT RIGHT OUTPUT (the Pair layout), or INPUT OUTPUT, INPUT in leftFile.
    QString leftFile;
    QString rightFile;
    // For one pair as above; for a batch, how its .jps files are read (FromFile: as Cross).
    StereoLayout layout = StereoLayout::Pair;
    bool swap = false;
    int jpegQuality = kDefaultJpegQuality;
    QString outputFile;
    // A batch: INDIR OUTDIR.
    QString inputDir;
    QString outputDir;
    // Writer format: from OUTPUT's extension for one pair, from --format for a batch.
    QByteArray format = "bmp";
    // A batch as one task of a cluster scheduler's job.
    BatchShard shard;
    bool skipExisting = false;
    QString reportFile;                       // empty: no report
    std::optional<AlignOptions> align;        // --align, with --window and --verbose
    EyeAdjustments adjust;                    // --match-colors, --resize, --max-size
    int jobs = 0;                             // --jobs: threads at once; 0: the CPUs available
    StereoOutput to = StereoOutput::Anaglyph; // --to, or from OUTPUT's extension or --format
    std::optional<int> windowShift;           // --window N without --align
    int wiggleMs = kDefaultWiggleMs;          // --wiggle-ms
    qint64 maxPixels = kMaxPicturePixels;     // --max-megapixels
};

struct ParsedCommandLine {
    enum class Action { Run, ShowHelp, ShowVersion, Fail };
    Action action = Action::Fail;
    CombineOptions options;
    QString error; // set when action is Fail
};

// arguments as QCoreApplication::arguments() gives them, the program name first; --shard auto
// reads the scheduler's variables from environment.
ParsedCommandLine
parseCommandLine(const QStringList &arguments,
                 const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

// The writer format for an output file name: "bmp", "png" or "jpg"; empty when not supported.
QByteArray formatForFileName(const QString &fileName);

QString helpText();

} // namespace duoptica
