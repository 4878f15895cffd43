#include "combine_options.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace duoptica {

namespace {

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

bool layoutNamed(const QString &name, StereoLayout &layout) {
    const QString lower = name.toLower();
    if (lower == u"pair")
        layout = StereoLayout::Pair;
    else if (lower == u"parallel")
        layout = StereoLayout::Parallel;
    else if (lower == u"cross")
        layout = StereoLayout::Cross;
    else if (lower == u"over-under")
        layout = StereoLayout::OverUnder;
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

// --resize WxH or W and --max-size N, each side a whole number of pixels; empty when well said.
QString eyeSizeFrom(const QCommandLineParser &parser, const QCommandLineOption &resize,
                    const QCommandLineOption &maxSize, std::optional<EyeSize> &size) {
    constexpr int kLargestSide = 30000;
    for (const QCommandLineOption *option : {&resize, &maxSize})
        if (parser.values(*option).size() > 1)
            return QStringLiteral("--%1 given more than once").arg(option->names()[0]);
    if (parser.isSet(resize) && parser.isSet(maxSize))
        return QStringLiteral("--resize and --max-size do not go together");
    const auto side = [](const QString &text, int &pixels) {
        bool isNumber = false;
        pixels = text.toInt(&isNumber);
        return isNumber && pixels >= 1 && pixels <= kLargestSide;
    };
    EyeSize wanted;
    if (parser.isSet(resize)) {
        const QStringList sides = parser.value(resize).toLower().split(u'x');
        wanted.kind = sides.size() == 2 ? EyeSize::Kind::Box : EyeSize::Kind::Width;
        if (sides.size() > 2 || !side(sides[0], wanted.width) ||
            (sides.size() == 2 && !side(sides[1], wanted.height)))
            return QStringLiteral("--resize takes WIDTHxHEIGHT or WIDTH, in pixels from 1 to "
                                  "%1, not '%2'")
                .arg(kLargestSide)
                .arg(parser.value(resize));
        size = wanted;
    } else if (parser.isSet(maxSize)) {
        wanted.kind = EyeSize::Kind::LongerSide;
        if (!side(parser.value(maxSize), wanted.longerSide))
            return QStringLiteral("--max-size takes a whole number of pixels from 1 to %1, not "
                                  "'%2'")
                .arg(kLargestSide)
                .arg(parser.value(maxSize));
        size = wanted;
    }
    return {};
}

struct OutputName {
    const char *name;
    StereoOutput to;
};
constexpr OutputName kOutputNames[] = {
    {"anaglyph", StereoOutput::Anaglyph},
    {"parallel", StereoOutput::Parallel},
    {"cross", StereoOutput::Cross},
    {"over-under", StereoOutput::OverUnder},
    {"half-parallel", StereoOutput::HalfParallel},
    {"half-over-under", StereoOutput::HalfOverUnder},
    {"rows", StereoOutput::Rows},
    {"columns", StereoOutput::Columns},
    {"checkerboard", StereoOutput::Checkerboard},
    {"mpo", StereoOutput::Mpo},
    {"jps", StereoOutput::Jps},
    {"pair", StereoOutput::Pair},
    {"wiggle", StereoOutput::Wiggle},
};

// The formats a wiggle animation is written in.
QByteArray animationNamed(const QString &name) {
    const QString lower = name.toLower();
    return lower == u"gif" || lower == u"webp" ? lower.toLatin1() : QByteArray();
}

bool outputNamed(const QString &name, StereoOutput &to) {
    for (const OutputName &output : kOutputNames)
        if (name.toLower() == QLatin1StringView(output.name)) {
            to = output.to;
            return true;
        }
    return false;
}

// The MPO and JPS outputs are JPEG images, whatever the output is named; a name ending in .mpo or
// .jps asks for them.
std::optional<StereoOutput> outputForExtension(const QString &extension) {
    if (extension.compare(u"mpo", Qt::CaseInsensitive) == 0)
        return StereoOutput::Mpo;
    if (extension.compare(u"jps", Qt::CaseInsensitive) == 0)
        return StereoOutput::Jps;
    return std::nullopt;
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
    const QCommandLineOption layoutOption(QStringLiteral("layout"), QString(),
                                          QStringLiteral("layout"));
    const QCommandLineOption swapOption(QStringLiteral("swap"));
    const QCommandLineOption qualityOption(QStringLiteral("quality"), QString(),
                                           QStringLiteral("quality"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption versionOption(QStringLiteral("version"));
    const QCommandLineOption shardOption(QStringLiteral("shard"), QString(), QStringLiteral("K/N"));
    const QCommandLineOption skipExistingOption(QStringLiteral("skip-existing"));
    const QCommandLineOption reportOption(QStringLiteral("report"), QString(),
                                          QStringLiteral("file"));
    const QCommandLineOption alignOption(QStringLiteral("align"));
    const QCommandLineOption windowOption(QStringLiteral("window"), QString(),
                                          QStringLiteral("window"));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"));
    const QCommandLineOption jobsOption(QStringLiteral("jobs"), QString(), QStringLiteral("N"));
    parser.addOptions({modeOption, batchOption, formatOption, layoutOption, swapOption,
                       qualityOption, helpOption, versionOption, shardOption, skipExistingOption,
                       reportOption, alignOption, windowOption, verboseOption, jobsOption});
    const QCommandLineOption matchColorsOption(QStringLiteral("match-colors"));
    const QCommandLineOption resizeOption(QStringLiteral("resize"), QString(),
                                          QStringLiteral("size"));
    const QCommandLineOption maxSizeOption(QStringLiteral("max-size"), QString(),
                                           QStringLiteral("N"));
    parser.addOptions({matchColorsOption, resizeOption, maxSizeOption});
    const QCommandLineOption toOption(QStringLiteral("to"), QString(), QStringLiteral("format"));
    const QCommandLineOption wiggleMsOption(QStringLiteral("wiggle-ms"), QString(),
                                            QStringLiteral("ms"));
    parser.addOptions({toOption, wiggleMsOption});
    const QCommandLineOption megapixelsOption(QStringLiteral("max-megapixels"), QString(),
                                              QStringLiteral("N"));
    parser.addOption(megapixelsOption);
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
        return failure(QStringLiteral("unknown mode '%1' (see --help for the list)")
                           .arg(parser.value(modeOption)));

    if (parser.values(layoutOption).size() > 1)
        return failure(QStringLiteral("--layout given more than once"));
    const bool layoutGiven = parser.isSet(layoutOption);
    if (layoutGiven && !layoutNamed(parser.value(layoutOption), options.layout))
        return failure(QStringLiteral("unknown layout '%1' (pair, parallel, cross or over-under)")
                           .arg(parser.value(layoutOption)));

    options.swap = parser.isSet(swapOption);

    if (parser.isSet(qualityOption)) {
        bool number = false;
        options.jpegQuality = parser.value(qualityOption).toInt(&number);
        if (!number || options.jpegQuality < 1 || options.jpegQuality > 100)
            return failure(QStringLiteral("--quality takes a whole number from 1 to 100, not '%1'")
                               .arg(parser.value(qualityOption)));
    }

    if (parser.isSet(jobsOption)) {
        bool number = false;
        options.jobs = parser.value(jobsOption).toInt(&number);
        if (parser.values(jobsOption).size() > 1 || !number || options.jobs < 1 ||
            options.jobs > 1024)
            return failure(QStringLiteral("--jobs takes one whole number from 1 to 1024, not '%1'")
                               .arg(parser.values(jobsOption).join(u' ')));
    }
    if (parser.isSet(megapixelsOption)) {
        bool number = false;
        const int megapixels = parser.value(megapixelsOption).toInt(&number);
        if (!number || megapixels < 1 || megapixels > kMaxPicturePixels / 1'000'000)
            return failure(QStringLiteral("--max-megapixels takes a whole number from 1 to %1, "
                                          "not '%2'")
                               .arg(kMaxPicturePixels / 1'000'000)
                               .arg(parser.value(megapixelsOption)));
        options.maxPixels = qint64(megapixels) * 1'000'000;
    }

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
        if (parser.isSet(verboseOption))
            return failure(QStringLiteral("--verbose goes with --align"));
        if (parser.values(windowOption).size() > 1)
            return failure(QStringLiteral("--window given more than once"));
        if (parser.isSet(windowOption)) {
            if (parser.value(windowOption).toLower() == u"auto")
                return failure(QStringLiteral("--window auto places the window by the matches "
                                              "of --align: give --align, or a number of pixels"));
            bool isNumber = false;
            options.windowShift = parser.value(windowOption).toInt(&isNumber);
            if (!isNumber)
                return failure(QStringLiteral("--window takes auto or a whole number of pixels, "
                                              "not '%1'")
                                   .arg(parser.value(windowOption)));
        }
    }

    options.adjust.matchColors = parser.isSet(matchColorsOption);
    if (const QString error = eyeSizeFrom(parser, resizeOption, maxSizeOption, options.adjust.size);
        !error.isEmpty())
        return failure(error);
    if (parser.values(toOption).size() > 1)
        return failure(QStringLiteral("--to given more than once"));
    const bool toGiven = parser.isSet(toOption);
    if (toGiven && !outputNamed(parser.value(toOption), options.to))
        return failure(QStringLiteral("unknown output '%1' (see --help for the list)")
                           .arg(parser.value(toOption)));

    const QStringList files = parser.positionalArguments();
    if (files.contains(QString())) {
        const QString names = parser.isSet(batchOption) ? QStringLiteral("INDIR OUTDIR")
                              : files.size() == 2       ? QStringLiteral("INPUT OUTPUT")
                                                        : QStringLiteral("LEFT RIGHT OUTPUT");
        const QString name =
            names.section(u' ', int(files.indexOf(QString())), -1).section(u' ', 0, 0);
        return failure(QStringLiteral("the %1 argument is empty")
                           .arg(name.isEmpty() ? QStringLiteral("file") : name));
    }
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
    if (parser.isSet(reportOption) && options.reportFile.isEmpty())
        return failure(QStringLiteral("--report takes a file name, not an empty argument"));
    if (options.batch) {
        if (files.size() != 2)
            return failure(QStringLiteral("--batch takes an input and an output folder"));
        options.inputDir = files[0];
        options.outputDir = files[1];
        if (options.layout == StereoLayout::Pair) {
            if (layoutGiven)
                return failure(QStringLiteral("--layout in a batch says how its .jps files are "
                                              "read: parallel, cross or over-under"));
            options.layout = StereoLayout::FromFile;
        }
        if (options.to == StereoOutput::Wiggle) {
            options.format = animationNamed(parser.value(formatOption));
            if (options.format.isEmpty())
                return failure(QStringLiteral("--to wiggle in a batch takes --format gif or webp"));
        } else if (parser.isSet(formatOption)) {
            const std::optional<StereoOutput> stereo =
                outputForExtension(parser.value(formatOption));
            if (stereo && toGiven && options.to != *stereo)
                return failure(QStringLiteral("--format %1 writes --to %1")
                                   .arg(parser.value(formatOption).toLower()));
            if (stereo)
                options.to = *stereo;
            options.format = stereo ? QByteArray("jpg") : formatNamed(parser.value(formatOption));
            if (options.format.isEmpty())
                return failure(QStringLiteral("unknown format '%1' (bmp, png, jpg, mpo or jps)")
                                   .arg(parser.value(formatOption)));
        }
        if (options.to == StereoOutput::Mpo || options.to == StereoOutput::Jps)
            options.format = "jpg";
    } else {
        if (parser.isSet(formatOption))
            return failure(QStringLiteral("--format is for --batch; for one pair the output "
                                          "file's extension gives the format"));
        if (files.size() == 3) {
            if (options.layout != StereoLayout::Pair)
                return failure(QStringLiteral("--layout %1 takes one INPUT and an OUTPUT")
                                   .arg(parser.value(layoutOption)));
            options.leftFile = files[0];
            options.rightFile = files[1];
        } else if (files.size() == 2) {
            if (layoutGiven && options.layout == StereoLayout::Pair)
                return failure(QStringLiteral("--layout pair takes LEFT RIGHT OUTPUT"));
            if (!layoutGiven)
                options.layout = StereoLayout::FromFile;
            options.leftFile = files[0];
        } else {
            return failure(QStringLiteral("expected LEFT RIGHT OUTPUT or INPUT OUTPUT"));
        }
        options.outputFile = files.back();
        options.format = formatForFileName(options.outputFile);
        const std::optional<StereoOutput> stereo =
            outputForExtension(QFileInfo(options.outputFile).suffix());
        if (stereo && !toGiven)
            options.to = *stereo;
        const bool jpegImages = options.to == StereoOutput::Mpo || options.to == StereoOutput::Jps;
        if (stereo && options.to != *stereo)
            return failure(QStringLiteral("%1: this name is for --to %2")
                               .arg(options.outputFile, QFileInfo(options.outputFile).suffix()));
        if (options.to == StereoOutput::Wiggle) {
            options.format = animationNamed(QFileInfo(options.outputFile).suffix());
            if (options.format.isEmpty())
                return failure(QStringLiteral("%1: --to wiggle writes an animation: the output "
                                              "must end in .gif or .webp")
                                   .arg(options.outputFile));
        } else if (jpegImages && (stereo || options.format == "jpg"))
            options.format = "jpg";
        else if (jpegImages)
            return failure(QStringLiteral("%1: --to mpo and --to jps write JPEG images: the "
                                          "output must end in .mpo, .jps or .jpg")
                               .arg(options.outputFile));
        if (options.format.isEmpty())
            return failure(QStringLiteral("%1: the output must end in .bmp, .png or .jpg")
                               .arg(options.outputFile));
    }
    if (parser.isSet(modeOption) && options.to != StereoOutput::Anaglyph)
        return failure(QStringLiteral("--mode goes with --to anaglyph"));
    if (parser.isSet(wiggleMsOption)) {
        bool number = false;
        options.wiggleMs = parser.value(wiggleMsOption).toInt(&number);
        if (options.to != StereoOutput::Wiggle)
            return failure(QStringLiteral("--wiggle-ms goes with --to wiggle"));
        if (!number || options.wiggleMs < 20 || options.wiggleMs > 10000)
            return failure(QStringLiteral("--wiggle-ms takes a whole number of milliseconds "
                                          "from 20 to 10000, not '%1'")
                               .arg(parser.value(wiggleMsOption)));
    }
    parsed.action = ParsedCommandLine::Action::Run;
    return parsed;
}

QString helpText() {
    QString methods;
    for (const MethodName &method : kMethodNames)
        methods +=
            QStringLiteral("  %1 %2\n")
                .arg(QLatin1StringView(method.name.data(), qsizetype(method.name.size())), -19)
                .arg(QLatin1StringView(method.description.data(),
                                       qsizetype(method.description.size())));
    return QStringLiteral(
               R"(Usage: duoptica-combine [OPTIONS] [--align ...] LEFT RIGHT OUTPUT
   or: duoptica-combine [OPTIONS] [--align ...] INPUT OUTPUT
   or: duoptica-combine [OPTIONS] [--format FORMAT] [--shard K/N|auto[/N]] --batch INDIR OUTDIR

Combines the left and the right eye of a stereo picture, pixel by pixel and at full size; the
normal, red-blue and red-green modes combine exactly as the Duoptica window does.

Inputs (BMP, JPEG, GIF, PNG, TIFF or WebP, told by content; 16-bit channels are rounded to 8):
  LEFT RIGHT          two pictures of the same size, one for each eye
  INPUT.mpo           a multi-picture file of a stereo camera: its first two images (told by
                      content, whatever the extension)
  INPUT.jps           one JPEG holding both eyes side by side, read as --layout cross
  INPUT               any other picture holding both eyes, with --layout parallel, cross or
                      over-under
  OUTPUT              its extension (.bmp, .png, .jpg) gives its format; it is written whole or
                      not at all, and never over an input
  --batch INDIR OUTDIR
                      every NAME_L.ext with its NAME_R.ext (case does not matter), and every
                      NAME.mpo and NAME.jps, in INDIR is combined into OUTDIR/NAME.bmp, on every
                      core. A pair that fails is reported and skipped, an unpaired file is
                      reported, and inputs that would make the same NAME both fail.

Layouts (--layout LAYOUT):
  pair                two files, LEFT and RIGHT (the default for two inputs)
  parallel            side by side, the left half is the left eye
  cross               side by side, the left half is the right eye (the default for .jps)
  over-under          one above the other, the top half is the left eye
                      An odd width (side by side) or height (over-under) drops the last column
                      or row. In a batch, --layout says how the .jps files are read.

Modes (--mode MODE):
%1
Options:
  --mode MODE         one of the modes above; normal is the default
  --layout LAYOUT     one of the layouts above
  --swap              exchange the left and the right eye once read, for any input
  --quality N         JPEG quality from 1 to 100, 90 by default; PNG and BMP are lossless
  --format FORMAT     the batch's output format: bmp (the default), png or jpg
  --shard K/N         only the pairs whose position in the sorted pair list is K modulo N
                      (0 <= K < N), so that N runs share a batch, e.g. on a cluster
  --shard auto[/N]    K and N from a Slurm job array (SLURM_ARRAY_TASK_ID, _MIN, _STEP,
                      _COUNT) or a Kubernetes Indexed Job (JOB_COMPLETION_INDEX, with N
                      from auto/N or DUOPTICA_SHARD_COUNT)
  --skip-existing     leave a pair whose output is already there (outputs are only ever
                      complete); a rerun finishes what a killed run left
  --report FILE       one JSON line for each pair as it finishes, and a summary line;
                      appended to, so reruns keep what earlier runs told
  --jobs N            use N threads; by default the CPUs the affinity and a cgroup quota give
  --align             align the right picture onto the left one first: its rotation, scale
                      and vertical offset are corrected, the horizontal disparity (the depth)
                      is kept, and both are cropped to what they share. One line on stderr
                      tells what was done; a pair that cannot be aligned is refused.
  --window auto|N     with --align: auto shifts the right picture so the nearest 2 % of the
                      aligned points sit at the screen; N shifts it N pixels to the right (pushing the scene back
                      into the screen; negative N brings it forward)
                      N also works without --align; both eyes are cropped to what they share
  --verbose           with --align: a second line tells how the matching went
  --match-colors      bring the right eye's colours to the left eye's, after --align: a tone
                      curve per channel, from the two eyes' histograms over the area both
                      show. One line on stderr tells what the curves did.
  --resize WxH|W      size each eye (not the combined or packed picture) before the eyes are
                      combined or packed: as large as fits in W x H, or W wide, the aspect
                      kept; shrunk by area averaging, enlarged by Lanczos
  --max-size N        size each eye so that its longer side is at most N; never enlarges
  --to FORMAT         what to write (anaglyph, the default, combines by --mode):
    parallel          both eyes side by side at full size, the left eye on the left
    cross             both eyes side by side at full size, the left eye on the right
    over-under        both eyes at full size, the left eye on top
    half-parallel     a 3D TV frame of one eye's size: each eye squeezed to half its width
    half-over-under   a 3D TV frame: each eye squeezed to half its height, the left on top
    rows              for passive 3D monitors: the left eye on the even rows (0, 2, ...)
    columns           the left eye on the even columns, the right eye on the odd ones
    checkerboard      for DLP projectors: the left eye where x + y is even
    mpo               a multi-picture file of two JPEG images, as 3D cameras write
                      (also chosen by an OUTPUT ending in .mpo; --format mpo in a batch)
    jps               a cross-eyed side-by-side JPEG (also by .jps; --format jps)
    pair              two files, NAME_L.ext and NAME_R.ext, from OUTPUT's NAME.ext
    wiggle            an animation showing the eyes in turn, for the web: OUTPUT .gif or
                      .webp (--format gif or webp in a batch); the stereo window stays still
                      --swap, --align and --window apply before the eyes are packed.
                      Two upright JPEG eyes, or an MPO's, into an MPO (or an MPO into a pair
                      of .jpg files) are copied losslessly; --align and --window (which move
                      and crop the pixels) and a turning EXIF orientation force a new encoding.
  --wiggle-ms N       each frame's time in a wiggle animation, 150 by default
  --max-megapixels N  refuse a picture of more than N million pixels (1 to 100, 100 by
                      default), which bounds the memory of a pair (see README)
  -h, --help          show this text
  --version           show the version

Each picture is turned upright as its EXIF orientation says before it is cut into eyes and
combined; the output carries no orientation.

Exit status:
  0  success
  2  wrong command line (or one INPUT that is neither an MPO nor given a --layout)
  3  an input picture or INDIR cannot be read (or INDIR holds no pair),
     or with --align the pair cannot be aligned
  4  Pictures not equal size!
  5  the output cannot be written
  6  some pairs of a batch failed (the others were written or skipped);
     a batch that writes no pair exits with the highest status of its failures
  130, 143  stopped by SIGINT or SIGTERM: no pair is left half written
)")
        .arg(methods);
}

} // namespace duoptica
