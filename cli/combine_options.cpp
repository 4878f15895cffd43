#include "combine_options.h"

#include "heic_file.h"
#include "option_table.h"

#include <QFileInfo>

namespace duoptica {

namespace {

using namespace Qt::Literals::StringLiterals;

bool modeNamed(const QString &name, AnaglyphMethod &mode) {
    const QByteArray lower = name.toLower().toUtf8();
    for (const MethodName &method : kMethodNames) {
        if (lower == QByteArrayView(method.name.data(), qsizetype(method.name.size()))) {
            mode = method.method;
            return true;
        }
    }
    return false;
}

// A format that holds one picture (bmp, png, jpg), by its name or extension.
std::optional<FileFormat> pictureFormatNamed(const QString &name) {
    const OutputFormat *format = outputFormatNamed(name);
    if (!format || format->holds != FormatHolds::Picture || format->impliedOutput)
        return std::nullopt;
    return format->file;
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

// The formats a wiggle animation is written in.
std::optional<FileFormat> animationNamed(const QString &name) {
    const OutputFormat *format = outputFormatNamed(name);
    if (!format || format->holds != FormatHolds::Animation)
        return std::nullopt;
    return format->file;
}

// The MPO and JPS outputs are JPEG images, whatever the output is named; a name ending in .mpo or
// .jps asks for them.
std::optional<StereoOutput> outputForExtension(const QString &extension) {
    const OutputFormat *format = outputFormatForExtension(extension);
    return format ? format->impliedOutput : std::nullopt;
}

bool writesJpegImages(StereoOutput to) {
    return to == StereoOutput::Mpo || to == StereoOutput::Jps;
}

// The options that need no other to be understood: --mode, --layout, --swap, --quality, --jobs,
// --max-megapixels, --match-colors and --to. Their numbers are already checked.
QString readPlainOptions(const DeclaredOptions &given, CombineOptions &options) {
    PairSettings &settings = options.settings;
    settings.mode = kDefaultMode;
    if (given.isSet("mode"_L1) && !modeNamed(given.value("mode"_L1), settings.mode))
        return u"unknown mode '%1' (see --help for the list)"_s.arg(given.value("mode"_L1));
    if (given.isSet("layout"_L1)) {
        const std::optional<StereoLayout> layout = layoutNamed(given.value("layout"_L1));
        if (!layout)
            return u"unknown layout '%1' (pair, parallel, cross or over-under)"_s.arg(
                given.value("layout"_L1));
        options.layout = *layout;
    }
    settings.swap = given.isSet("swap"_L1);
    if (given.isSet("quality"_L1))
        settings.jpegQuality = given.number("quality"_L1);
    if (given.isSet("jobs"_L1))
        options.jobs = given.number("jobs"_L1);
    if (given.isSet("max-megapixels"_L1))
        settings.maxPixels = qint64(given.number("max-megapixels"_L1)) * 1'000'000;
    settings.adjust.matchColors = given.isSet("match-colors"_L1);
    if (given.isSet("to"_L1)) {
        const std::optional<StereoOutput> to = stereoOutputNamed(given.value("to"_L1));
        if (!to)
            return u"unknown output '%1' (see --help for the list)"_s.arg(given.value("to"_L1));
        settings.to = *to;
    }
    return {};
}

// --align with --window and --verbose, or --window N alone.
QString readAlignment(const DeclaredOptions &given, PairSettings &settings) {
    const QString window = given.value("window"_L1);
    const QString badWindow =
        u"--window takes auto or a whole number of pixels, not '%1'"_s.arg(window);
    if (given.isSet("align"_L1)) {
        settings.align.emplace();
        settings.align->verbose = given.isSet("verbose"_L1);
        if (given.isSet("window"_L1) && !windowNamed(window, settings.align->window))
            return badWindow;
        return {};
    }
    if (given.isSet("verbose"_L1))
        return u"--verbose goes with --align"_s;
    if (!given.isSet("window"_L1))
        return {};
    if (window.toLower() == u"auto") {
        settings.windowAtNearest = true;
        return {};
    }
    bool isNumber = false;
    settings.windowShift = window.toInt(&isNumber);
    return isNumber ? QString() : badWindow;
}

// --resize WxH or W, or --max-size N, each side a whole number of pixels.
QString readEyeSize(const DeclaredOptions &given, std::optional<EyeSize> &size) {
    if (given.isSet("resize"_L1) && given.isSet("max-size"_L1))
        return u"--resize and --max-size do not go together"_s;
    EyeSize wanted;
    if (given.isSet("max-size"_L1)) {
        wanted.kind = EyeSize::Kind::LongerSide;
        wanted.longerSide = given.number("max-size"_L1);
        size = wanted;
        return {};
    }
    if (!given.isSet("resize"_L1))
        return {};
    const auto side = [](const QString &text, int &pixels) {
        bool isNumber = false;
        pixels = text.toInt(&isNumber);
        return isNumber && pixels >= 1 && pixels <= kLargestSide;
    };
    const QString resize = given.value("resize"_L1);
    const QStringList sides = resize.toLower().split(u'x');
    wanted.kind = sides.size() == 2 ? EyeSize::Kind::Box : EyeSize::Kind::Width;
    if (sides.size() > 2 || !side(sides[0], wanted.width) ||
        (sides.size() == 2 && !side(sides[1], wanted.height)))
        return u"--resize takes WIDTHxHEIGHT or WIDTH, in pixels from 1 to %1, not '%2'"_s
            .arg(kLargestSide)
            .arg(resize);
    size = wanted;
    return {};
}

// The name of the first empty file argument, in a message; empty when there is none.
QString emptyArgument(const QStringList &files, bool batch) {
    if (!files.contains(QString()))
        return {};
    const QString names = batch               ? u"INDIR OUTDIR"_s
                          : files.size() == 2 ? u"INPUT OUTPUT"_s
                                              : u"LEFT RIGHT OUTPUT"_s;
    const QString name = names.section(u' ', int(files.indexOf(QString())), -1).section(u' ', 0, 0);
    return u"the %1 argument is empty"_s.arg(name.isEmpty() ? u"file"_s : name);
}

// --shard, --report and --pair-names, which only a batch takes, and --skip-existing.
QString readBatchOptions(const DeclaredOptions &given, CombineOptions &options,
                         const QProcessEnvironment &environment) {
    for (QLatin1StringView batchOnly : {"shard"_L1, "report"_L1, "pair-names"_L1})
        if (!options.batch && given.isSet(batchOnly))
            return u"--%1 is for --batch"_s.arg(batchOnly);
    if (given.isSet("pair-names"_L1)) {
        options.pairNames = sideNamesFrom(given.value("pair-names"_L1));
        if (!options.pairNames)
            return u"--pair-names takes two different endings LEFT,RIGHT (e.g. _0,_1), not '%1'"_s
                .arg(given.value("pair-names"_L1));
    }
    if (given.isSet("shard"_L1)) {
        const ShardChoice choice = chooseShard(given.value("shard"_L1), environment);
        if (!choice.error.isEmpty())
            return choice.error;
        options.shard = choice.shard;
    }
    options.skipExisting = given.isSet("skip-existing"_L1);
    options.reportFile = given.value("report"_L1);
    if (given.isSet("report"_L1) && options.reportFile.isEmpty())
        return u"--report takes a file name, not an empty argument"_s;
    return {};
}

// The formats --format takes where no animation is asked for.
QString batchPictureFormats() {
    QStringList names;
    for (const OutputFormat &format : outputFormats())
        if (format.holds != FormatHolds::Animation)
            names << format.name;
    return joinedWithOr(names);
}

// A batch's --format, and the --to it implies (mpo, jps), or the animation of --to wiggle.
QString readBatchFormat(const DeclaredOptions &given, PairSettings &settings) {
    const QString name = given.value("format"_L1);
    if (settings.to == StereoOutput::Wiggle) {
        const std::optional<FileFormat> animation =
            given.isSet("format"_L1) ? animationNamed(name) : FileFormat::Gif;
        if (!animation)
            return u"--to wiggle in a batch takes --format gif (the default) or webp"_s;
        settings.format = *animation;
        return {};
    }
    if (given.isSet("format"_L1)) {
        const std::optional<StereoOutput> stereo = outputForExtension(name);
        if (stereo && given.isSet("to"_L1) && settings.to != *stereo)
            return u"--format %1 writes --to %1"_s.arg(name.toLower());
        if (stereo)
            settings.to = *stereo;
        const std::optional<FileFormat> format =
            stereo ? outputFormatNamed(name)->file : pictureFormatNamed(name);
        if (!format)
            return u"unknown format '%1' (%2)"_s.arg(name, batchPictureFormats());
        settings.format = *format;
    }
    if (writesJpegImages(settings.to))
        settings.format = FileFormat::Jpeg;
    if (settings.to == StereoOutput::Heic)
        settings.format = FileFormat::Heic;
    return {};
}

QString readBatch(const DeclaredOptions &given, CombineOptions &options) {
    const QStringList files = given.positionalArguments();
    if (files.size() != 2)
        return u"--batch takes an input and an output folder"_s;
    options.inputDir = files[0];
    options.outputDir = files[1];
    if (options.layout == StereoLayout::Pair) {
        if (given.isSet("layout"_L1))
            return u"--layout in a batch says how its .jps files are read: parallel, cross or "
                   "over-under"_s;
        options.layout = StereoLayout::FromFile;
    }
    return readBatchFormat(given, options.settings);
}

// The format OUTPUT's extension asks for, and the --to it implies (.mpo, .jps).
QString readOutputFormat(const DeclaredOptions &given, CombineOptions &options) {
    PairSettings &settings = options.settings;
    const QString extension = QFileInfo(options.outputFile).suffix();
    std::optional<FileFormat> format = formatForFileName(options.outputFile);
    const std::optional<StereoOutput> stereo = outputForExtension(extension);
    if (stereo && !given.isSet("to"_L1))
        settings.to = *stereo;
    if (stereo && settings.to != *stereo)
        return u"%1: this name is for --to %2"_s.arg(options.outputFile, extension);
    if (settings.to == StereoOutput::Wiggle) {
        format = animationNamed(extension);
        if (!format)
            return u"%1: --to wiggle writes an animation: the output must end in .gif or .webp"_s
                .arg(options.outputFile);
    } else if (settings.to == StereoOutput::Heic) {
        if (!stereo)
            return u"%1: --to heic writes a HEIC file: the output must end in .heic"_s.arg(
                options.outputFile);
        format = FileFormat::Heic;
    } else if (writesJpegImages(settings.to) && (stereo || format == FileFormat::Jpeg)) {
        format = FileFormat::Jpeg;
    } else if (writesJpegImages(settings.to)) {
        return u"%1: --to mpo and --to jps write JPEG images: the output must end in .mpo, .jps "
               "or .jpg"_s.arg(options.outputFile);
    }
    if (!format)
        return u"%1: the output must end in .bmp, .png or .jpg"_s.arg(options.outputFile);
    settings.format = *format;
    return {};
}

QString readOnePair(const DeclaredOptions &given, CombineOptions &options) {
    if (given.isSet("format"_L1))
        return u"--format is for --batch; for one pair the output file's extension gives the "
               "format"_s;
    const QStringList files = given.positionalArguments();
    const bool layoutGiven = given.isSet("layout"_L1);
    if (files.size() == 3) {
        if (options.layout != StereoLayout::Pair)
            return u"--layout %1 takes one INPUT and an OUTPUT"_s.arg(given.value("layout"_L1));
        options.leftFile = files[0];
        options.rightFile = files[1];
    } else if (files.size() == 2) {
        if (layoutGiven && options.layout == StereoLayout::Pair)
            return u"--layout pair takes LEFT RIGHT OUTPUT"_s;
        if (!layoutGiven)
            options.layout = StereoLayout::FromFile;
        options.leftFile = files[0];
    } else {
        return u"expected LEFT RIGHT OUTPUT or INPUT OUTPUT"_s;
    }
    options.outputFile = files.back();
    return readOutputFormat(given, options);
}

// --fit WxH, for the outputs that are one picture of the eyes.
QString readFit(const DeclaredOptions &given, PairSettings &settings) {
    if (!given.isSet("fit"_L1))
        return {};
    const QString fit = given.value("fit"_L1);
    const QStringList sides = fit.toLower().split(u'x');
    bool isWidth = false, isHeight = false;
    const QSize frame =
        sides.size() == 2 ? QSize(sides[0].toInt(&isWidth), sides[1].toInt(&isHeight)) : QSize();
    if (!isWidth || !isHeight || frame.width() < 1 || frame.height() < 1 ||
        frame.width() > kLargestSide || frame.height() > kLargestSide)
        return u"--fit takes WIDTHxHEIGHT, in pixels from 1 to %1, not '%2'"_s.arg(kLargestSide)
            .arg(fit);
    if (qint64(frame.width()) * frame.height() > settings.maxPixels)
        return u"--fit %1 is more than %2 megapixels"_s.arg(fit).arg(settings.maxPixels /
                                                                     1'000'000);
    if (settings.to == StereoOutput::Mpo || settings.to == StereoOutput::Jps ||
        settings.to == StereoOutput::Pair || settings.to == StereoOutput::Wiggle)
        return u"--fit makes one frame of the anaglyph or the packed eyes: not for --to mpo, jps, "
               "pair or wiggle"_s;
    settings.fit = frame;
    return {};
}

// The rules between the stereo output and the options that only some outputs take.
QString checkOutputOptions(const DeclaredOptions &given, PairSettings &settings) {
    if (settings.to == StereoOutput::Heic && !given.isSet("quality"_L1))
        settings.jpegQuality = kDefaultHeicQuality;
    if (given.isSet("mode"_L1) && settings.to != StereoOutput::Anaglyph)
        return u"--mode goes with --to anaglyph"_s;
    if (const QString error = readFit(given, settings); !error.isEmpty())
        return error;
    if (given.isSet("wiggle-ms"_L1)) {
        if (settings.to != StereoOutput::Wiggle)
            return u"--wiggle-ms goes with --to wiggle"_s;
        settings.wiggleMs = given.number("wiggle-ms"_L1);
    }
    return {};
}

// Every step, in order, until one refuses the command line.
QString readCommandLine(const DeclaredOptions &given, CombineOptions &options,
                        const QProcessEnvironment &environment) {
    options.batch = given.isSet("batch"_L1);
    QString error = readPlainOptions(given, options);
    if (error.isEmpty())
        error = readAlignment(given, options.settings);
    if (error.isEmpty())
        error = readEyeSize(given, options.settings.adjust.size);
    if (error.isEmpty())
        error = emptyArgument(given.positionalArguments(), options.batch);
    if (error.isEmpty())
        error = readBatchOptions(given, options, environment);
    if (error.isEmpty())
        error = options.batch ? readBatch(given, options) : readOnePair(given, options);
    if (error.isEmpty())
        error = checkOutputOptions(given, options.settings);
    return error;
}

// "(.bmp, .png, .jpg, ...)": every extension an OUTPUT may have.
QString outputExtensions() {
    QStringList extensions;
    for (const OutputFormat &format : outputFormats())
        for (QLatin1StringView extension : format.extensions)
            extensions << u'.' + extension;
    return joinedWithOr(extensions);
}

QString usageAndInputs() {
    return uR"(Usage: duoptica-combine [OPTIONS] [--align ...] LEFT RIGHT OUTPUT
   or: duoptica-combine [OPTIONS] [--align ...] INPUT OUTPUT
   or: duoptica-combine [OPTIONS] [--format FORMAT] [--shard K/N|auto[/N]] --batch INDIR OUTDIR

Combines the left and the right eye of a stereo picture, pixel by pixel and at full size: by
default into a Dubois red-cyan anaglyph; the normal, red-blue and red-green modes combine exactly
as the Duoptica window does.

Inputs (BMP, JPEG, GIF, PNG, TIFF, WebP or HEIC, told by content; 16-bit channels are rounded
to 8):
  LEFT RIGHT          two pictures of the same size, one for each eye
  INPUT.mpo           a multi-picture file of a stereo camera: its first two images (told by
                      content, whatever the extension), or two JPEGs of one size joined
                      without the index, the left first
  INPUT.heic          a stereo HEIC of a phone or headset (a spatial photo): the two images of
                      its stereo group, left first (told by content); a HEIC without the
                      group is one picture, its primary image
  INPUT.jpg           a phone's JPEG hiding its eyes: a Leia LIF (its two outermost views) or
                      the right eye in extended XMP (Cardboard, VR180, Leia), told by content
  INPUT.jps           one JPEG holding both eyes side by side, read as --layout cross
  INPUT               any other picture holding both eyes, with --layout parallel, cross or
                      over-under
)"_s +
           helpRow(u"OUTPUT"_s,
                   wrapped(u"its extension (%1) gives its format (see --to); it is "
                           "written whole or not at all, and never over an input"_s.arg(
                               outputExtensions()))) +
           uR"(  --batch INDIR OUTDIR
                      every pair of pictures in INDIR, and every NAME.mpo, NAME.jps,
                      NAME.heic and phone's NAME.jpg holding both eyes, is
                      combined into OUTDIR/NAME.bmp (or as --format and --to say), on every
                      core. A pair is NAME_L.ext with
                      NAME_R.ext, or NAME-L/NAME-R, NAME.L/NAME.R, NAME_left/NAME_right,
                      NAME-left/NAME-right, NAME.left/NAME.right (any case, the sides of any
                      picture format), or as --pair-names says. A pair that fails is reported
                      and skipped, every picture left unused is reported with why, and inputs
                      that would make the same NAME both fail.
)"_s;
}

QString layoutsAndModes() {
    QString text = u"\nLayouts (--layout LAYOUT):\n"_s;
    for (const NamedValue &layout : layoutValues())
        text += helpRow(layout.name, layout.help);
    text +=
        helpRow({}, u"An odd width (side by side) or height (over-under) drops the last column\n"
                    "or row. In a batch, --layout says how the .jps files are read."_s);
    text += u"\nModes (--mode MODE):\n"_s;
    for (const NamedValue &mode : modeValues())
        text += u"  %1 %2\n"_s.arg(mode.name, -19).arg(mode.help);
    return text + u'\n';
}

QString orientationAndExitStatus() {
    return uR"(
Each picture is turned upright as its EXIF orientation says before it is cut into eyes and
combined; the output carries no orientation.

Exit status:
  0  success
  2  wrong command line (or one INPUT that is neither an MPO nor given a --layout,
     or two MPOs as LEFT and RIGHT: give one of them alone)
  3  an input picture or INDIR cannot be read (or INDIR holds no pair),
     or with --align the pair cannot be aligned
  4  Pictures not equal size!
  5  the output cannot be written
  6  some pairs of a batch failed (the others were written or skipped);
     a batch that writes no pair exits with the highest status of its failures
  130, 143  stopped by SIGINT or SIGTERM: no pair is left half written
)"_s;
}

ParsedCommandLine failure(const QString &error) {
    ParsedCommandLine parsed;
    parsed.error = error;
    return parsed;
}

} // namespace

std::optional<FileFormat> formatForFileName(const QString &fileName) {
    return pictureFormatNamed(QFileInfo(fileName).suffix());
}

ParsedCommandLine parseCommandLine(const QStringList &arguments,
                                   const QProcessEnvironment &environment) {
    DeclaredOptions given;
    if (const QString error = given.parse(arguments); !error.isEmpty())
        return failure(error);
    ParsedCommandLine parsed;
    if (given.isSet("help"_L1))
        parsed.action = ParsedCommandLine::Action::ShowHelp;
    else if (given.isSet("version"_L1))
        parsed.action = ParsedCommandLine::Action::ShowVersion;
    else if (given.isSet("completion-words"_L1))
        parsed.action = ParsedCommandLine::Action::ShowCompletionWords;
    if (parsed.action != ParsedCommandLine::Action::Fail)
        return parsed;
    if (const QString error = given.refusal(); !error.isEmpty())
        return failure(error);
    if (const QString error = readCommandLine(given, parsed.options, environment); !error.isEmpty())
        return failure(error);
    parsed.action = ParsedCommandLine::Action::Run;
    return parsed;
}

QString helpText() {
    return usageAndInputs() + layoutsAndModes() + optionsHelp() + orientationAndExitStatus();
}

} // namespace duoptica
