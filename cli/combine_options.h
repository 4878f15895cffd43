// The command line of duoptica-combine: what it may say, and what it asks for once understood.
#pragma once

#include "align_stage.h"
#include "batch_pairing.h"
#include "batch_shard.h"
#include "pair_job.h"
#include "picture_file.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace duoptica {

struct CombineOptions {
    PairSettings settings; // what each pair is to be, with the writer format from OUTPUT's
                           // extension for one pair, from --format for a batch
    bool batch = false;
    // One pair: LEFT RIGHT OUTPUT (the Pair layout), or INPUT OUTPUT, INPUT in leftFile.
    QString leftFile;
    QString rightFile;
    // For one pair as above; for a batch, how its .jps files are read (FromFile: as Cross).
    StereoLayout layout = StereoLayout::Pair;
    QString outputFile;
    // A batch: INDIR OUTDIR.
    QString inputDir;
    QString outputDir;
    // A batch as one task of a cluster scheduler's job.
    BatchShard shard;
    bool skipExisting = false;
    // --pair-names, besides the common namings.
    std::optional<SideNames> pairNames;
    QString reportFile; // empty: no report
    int jobs = 0;       // --jobs: threads at once; 0: the CPUs available
};

struct ParsedCommandLine {
    enum class Action { Run, ShowHelp, ShowVersion, ShowCompletionWords, Fail };
    Action action = Action::Fail;
    CombineOptions options;
    QString error; // set when action is Fail
};

// arguments as QCoreApplication::arguments() gives them, the program name first; --shard auto
// reads the scheduler's variables from environment.
ParsedCommandLine
parseCommandLine(const QStringList &arguments,
                 const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());

// The picture format an output file name asks for (.bmp, .png, .jpg); none for any other.
std::optional<FileFormat> formatForFileName(const QString &fileName);

QString helpText();

} // namespace duoptica
