#include "combine_options.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace duoptica {

namespace {

bool modeNamed(const QString &name, CombineMode &mode) {
    const QString lower = name.toLower();
    if (lower == u"normal")
        mode = CombineMode::Normal;
    else if (lower == u"red-blue")
        mode = CombineMode::RedBlue;
    else if (lower == u"red-green")
        mode = CombineMode::RedGreen;
    else
        return false;
    return true;
}

QByteArray formatNamed(const QString &name) {
    const QString lower = name.toLower();
    if (lower == u"bmp")
        return "bmp";
    if (lower == u"png")
        return "png";
    if (lower == u"jpg" || lower == u"jpeg")
        return "jpg";
    return {};
}

ParsedCommandLine failure(const QString &error) {
    ParsedCommandLine parsed;
    parsed.error = error;
    return parsed;
}

} // namespace

QByteArray formatForFileName(const QString &fileName) {
    return formatNamed(QFileInfo(fileName).suffix());
}

ParsedCommandLine parseCommandLine(const QStringList &arguments,
                                   const QProcessEnvironment &environment) {
    QCommandLineParser parser;
    const QCommandLineOption modeOption(QStringLiteral("mode"), QString(), QStringLiteral("mode"));
    const QCommandLineOption batchOption(QStringLiteral("batch"));
    const QCommandLineOption formatOption(QStringLiteral("format"), QString(),
                                          QStringLiteral("format"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOption(QStringLiteral("version"));
    const QCommandLineOption shardOption(QStringLiteral("shard"), QString(), QStringLiteral("K/N"));
    const QCommandLineOption skipExistingOption(QStringLiteral("skip-existing"));
    const QCommandLineOption reportOption(QStringLiteral("report"), QString(),
                                          QStringLiteral("file"));
    parser.addOptions({modeOption, batchOption, formatOption, helpOption, versionOption,
                       shardOption, skipExistingOption, reportOption});
    if (!parser.parse(arguments))
        return failure(parser.errorText());

    ParsedCommandLine parsed;
    if (parser.isSet(helpOption)) {
        parsed.action = ParsedCommandLine::Action::ShowHelp;
        return parsed;
    }
    if (parser.isSet(versionOption)) {
        parsed.action = ParsedCommandLine::Action::ShowVersion;
        return parsed;
    }

    CombineOptions &options = parsed.options;
    if (parser.values(modeOption).size() > 1)
        return failure(QStringLiteral("--mode given more than once"));
    if (parser.isSet(modeOption) && !modeNamed(parser.value(modeOption), options.mode))
        return failure(QStringLiteral("unknown mode '%1' (normal, red-blue or red-green)")
                           .arg(parser.value(modeOption)));

    const QStringList files = parser.positionalArguments();
    options.batch = parser.isSet(batchOption);
    for (const QCommandLineOption *batchOnly : {&shardOption, &skipExistingOption, &reportOption})
        if (!options.batch && parser.isSet(*batchOnly))
            return failure(
                QStringLiteral("--%1 is for --batch").arg(batchOnly->names().constFirst()));
    if (parser.isSet(shardOption)) {
        if (parser.values(shardOption).size() > 1)
            return failure(QStringLiteral("--shard given more than once"));
        const ShardChoice choice = chooseShard(parser.value(shardOption), environment);
        if (!choice.error.isEmpty())
            return failure(choice.error);
        options.shard = choice.shard;
    }
    options.skipExisting = parser.isSet(skipExistingOption);
    if (parser.values(reportOption).size() > 1)
        return failure(QStringLiteral("--report given more than once"));
    options.reportFile = parser.value(reportOption);
    if (options.batch) {
        if (files.size() != 2)
            return failure(QStringLiteral("--batch takes an input and an output folder"));
        options.inputDir = files[0];
        options.outputDir = files[1];
        if (parser.isSet(formatOption)) {
            options.format = formatNamed(parser.value(formatOption));
            if (options.format.isEmpty())
                return failure(QStringLiteral("unknown format '%1' (bmp, png or jpg)")
                                   .arg(parser.value(formatOption)));
        }
    } else {
        if (parser.isSet(formatOption))
            return failure(QStringLiteral("--format is for --batch; for one pair the output "
                                          "file's extension gives the format"));
        if (files.size() != 3)
            return failure(QStringLiteral("expected LEFT RIGHT OUTPUT"));
        options.leftFile = files[0];
        options.rightFile = files[1];
        options.outputFile = files[2];
        options.format = formatForFileName(options.outputFile);
        if (options.format.isEmpty())
            return failure(QStringLiteral("%1: the output must end in .bmp, .png or .jpg")
                               .arg(options.outputFile));
    }
    parsed.action = ParsedCommandLine::Action::Run;
    return parsed;
}

QString helpText() {
    return QStringLiteral(
        R"(Usage: duoptica-combine [--mode MODE] LEFT RIGHT OUTPUT
       duoptica-combine [--mode MODE] [--format FORMAT] [--shard K/N|auto[/N]]
                        [--skip-existing] [--report FILE] --batch INDIR OUTDIR

Combines a left and a right picture of the same size, pixel by pixel and at full size,
exactly as the Duoptica window does.

  LEFT RIGHT OUTPUT   one pair; OUTPUT's extension (.bmp, .png, .jpg) gives its format.
                      OUTPUT is written whole or not at all, and never over LEFT or RIGHT.
  --batch INDIR OUTDIR
                      every NAME_L.ext in INDIR with its NAME_R.ext (case does not matter;
                      BMP, JPEG, GIF or PNG) is combined into OUTDIR/NAME.bmp, on every core.
                      A pair that fails is reported and skipped; an unpaired file is reported.
  --mode MODE         normal (the default), red-blue or red-green
  --format FORMAT     the batch's output format: bmp (the default), png or jpg
  --shard K/N         only the pairs whose position in the sorted pair list is K modulo N
                      (0 <= K < N), so that N runs share a batch, e.g. on a cluster
  --shard auto[/N]    K and N from a Slurm job array (SLURM_ARRAY_TASK_ID, _MIN, _STEP,
                      _COUNT) or a Kubernetes Indexed Job (JOB_COMPLETION_INDEX, with N
                      from auto/N or DUOPTICA_SHARD_COUNT)
  --skip-existing     leave a pair whose output is already there (outputs are only ever
                      complete); a rerun finishes what a killed run left
  --report FILE       one JSON line for each pair as it finishes, and a summary line
  -h, --help          show this text
  --version           show the version

Exit status:
  0  success
  2  wrong command line
  3  an input picture or INDIR cannot be read (or INDIR holds no pair)
  4  Pictures not equal size!
  5  the output cannot be written
  6  some pairs of a batch failed (the others were written)
)");
}

} // namespace duoptica
