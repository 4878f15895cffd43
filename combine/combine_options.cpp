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

// "auto" puts the nearest points at the screen; a whole number shifts by that many pixels.
bool windowNamed(const QString &name, align::WindowPlacement &window) {
    if (name.toLower() == u"auto") {
        window.kind = align::WindowPlacement::Kind::NearestAtScreen;
        return true;
    }
    bool isNumber = false;
    window.pixels = name.toInt(&isNumber);
    window.kind = align::WindowPlacement::Kind::Shift;
    return isNumber;
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

ParsedCommandLine parseCommandLine(const QStringList &arguments) {
    QCommandLineParser parser;
    const QCommandLineOption modeOption(QStringLiteral("mode"), QString(), QStringLiteral("mode"));
    const QCommandLineOption batchOption(QStringLiteral("batch"));
    const QCommandLineOption formatOption(QStringLiteral("format"), QString(),
                                          QStringLiteral("format"));
    const QCommandLineOption alignOption(QStringLiteral("align"));
    const QCommandLineOption windowOption(QStringLiteral("window"), QString(),
                                          QStringLiteral("window"));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOption(QStringLiteral("version"));
    parser.addOptions({modeOption, batchOption, formatOption, alignOption, windowOption,
                       verboseOption, helpOption, versionOption});
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

    if (parser.isSet(alignOption)) {
        options.align.emplace();
        options.align->verbose = parser.isSet(verboseOption);
        if (parser.values(windowOption).size() > 1)
            return failure(QStringLiteral("--window given more than once"));
        if (parser.isSet(windowOption) &&
            !windowNamed(parser.value(windowOption), options.align->window))
            return failure(QStringLiteral("--window takes auto or a whole number of pixels, "
                                          "not '%1'")
                               .arg(parser.value(windowOption)));
    } else {
        for (const QCommandLineOption &needsAlign : {windowOption, verboseOption})
            if (parser.isSet(needsAlign))
                return failure(QStringLiteral("--%1 goes with --align").arg(needsAlign.names()[0]));
    }

    const QStringList files = parser.positionalArguments();
    options.batch = parser.isSet(batchOption);
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
        R"(Usage: duoptica-combine [--mode MODE] [--align ...] LEFT RIGHT OUTPUT
       duoptica-combine [--mode MODE] [--align ...] [--format FORMAT] --batch INDIR OUTDIR

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
  --align             align the right picture onto the left one first: its rotation, scale
                      and vertical offset are corrected, the horizontal disparity (the depth)
                      is kept, and both are cropped to what they share. One line on stderr
                      tells what was done; a pair that cannot be aligned is refused.
  --window auto|N     with --align: auto shifts the right picture so the nearest points sit
                      at the screen; N shifts it N pixels to the right (pushing the scene back
                      into the screen; negative N brings it forward)
  --verbose           with --align: a second line tells how the matching went
  -h, --help          show this text
  --version           show the version

Exit status:
  0  success
  2  wrong command line
  3  an input picture or INDIR cannot be read (or INDIR holds no pair),
     or with --align the pair cannot be aligned
  4  Pictures not equal size!
  5  the output cannot be written
  6  some pairs of a batch failed (the others were written)
)");
}

} // namespace duoptica
