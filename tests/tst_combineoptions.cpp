// What duoptica-combine makes of its command line.
#include "combine_options.h"

#include <QTest>

#include <tuple>

using namespace Qt::Literals::StringLiterals;

using duoptica::AnaglyphMethod;
using duoptica::EyeSize;
using duoptica::ParsedCommandLine;
using duoptica::StereoLayout;
using Action = ParsedCommandLine::Action;
using WindowKind = duoptica::align::WindowPlacement::Kind;

Q_DECLARE_METATYPE(AnaglyphMethod)
Q_DECLARE_METATYPE(Action)
Q_DECLARE_METATYPE(StereoLayout)
Q_DECLARE_METATYPE(WindowKind)

class CombineOptionsTest : public QObject {
    Q_OBJECT

private slots:
    void understandsOnePair_data();
    void understandsOnePair();
    void understandsABatch_data();
    void understandsABatch();
    void understandsTheAlignment_data();
    void understandsTheAlignment();
    void understandsTheEyeStages_data();
    void understandsTheEyeStages();
    void refusesWhatItCannotDo_data();
    void refusesWhatItCannotDo();
    void refusesRepeatsAndNumbersOutOfRange_data();
    void refusesRepeatsAndNumbersOutOfRange();
    void understandsStereoInputs_data();
    void understandsStereoInputs();
    void helpAndVersionWinOverTheRest_data();
    void helpAndVersionWinOverTheRest();
};

static QStringList commandLine(const QString &arguments) {
    QStringList parts = arguments.split(u' ', Qt::SkipEmptyParts);
    for (QString &part : parts)
        if (part == u"''") // an empty argument, as a shell passes it
            part.clear();
    return QStringList{QStringLiteral("duoptica-combine")} + parts;
}

void CombineOptionsTest::understandsOnePair_data() {
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<AnaglyphMethod>("mode");
    QTest::addColumn<QByteArray>("format");
    QTest::newRow("dubois-red-cyan by default, bmp")
        << "l.bmp r.jpg out.bmp" << AnaglyphMethod::DuboisRedCyan << QByteArray("bmp");
    QTest::newRow("normal, the window's rule, when asked")
        << "--mode normal l.bmp r.jpg out.bmp" << AnaglyphMethod::Normal << QByteArray("bmp");
    QTest::newRow("red-blue to png")
        << "--mode red-blue l.gif r.png out.png" << AnaglyphMethod::RedBlue << QByteArray("png");
    QTest::newRow("red-green after the files, upper-case jpg")
        << "l.bmp r.bmp OUT.JPG --mode=red-green" << AnaglyphMethod::RedGreen << QByteArray("jpg");
    QTest::newRow("jpeg is jpg") << "--mode normal l.bmp r.bmp out.jpeg" << AnaglyphMethod::Normal
                                 << QByteArray("jpg");
    QTest::newRow(".heic asks for a stereo HEIC")
        << "l.bmp r.bmp out.HEIC" << AnaglyphMethod::DuboisRedCyan << QByteArray("heic");
}

void CombineOptionsTest::understandsOnePair() {
    QFETCH(QString, arguments);
    QFETCH(AnaglyphMethod, mode);
    QFETCH(QByteArray, format);
    const ParsedCommandLine parsed = duoptica::parseCommandLine(commandLine(arguments));
    QCOMPARE(parsed.action, Action::Run);
    QVERIFY(!parsed.options.batch);
    QCOMPARE(parsed.options.settings.mode, mode);
    QCOMPARE(duoptica::qtFormatName(parsed.options.settings.format), format);
    const QStringList files = commandLine(arguments).filter(QStringLiteral("."));
    QCOMPARE(parsed.options.leftFile, files[0]);
    QCOMPARE(parsed.options.rightFile, files[1]);
    QCOMPARE(parsed.options.outputFile, files[2]);
}

void CombineOptionsTest::understandsABatch_data() {
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<AnaglyphMethod>("mode");
    QTest::addColumn<QByteArray>("format");
    QTest::newRow("bmp by default")
        << "--mode normal --batch in out" << AnaglyphMethod::Normal << QByteArray("bmp");
    QTest::newRow("dubois-red-cyan by default")
        << "--batch in out" << AnaglyphMethod::DuboisRedCyan << QByteArray("bmp");
    QTest::newRow("gif for --to wiggle by default")
        << "--to wiggle --batch in out" << AnaglyphMethod::DuboisRedCyan << QByteArray("gif");
    QTest::newRow("webp for --to wiggle when asked")
        << "--to wiggle --format webp --batch in out" << AnaglyphMethod::DuboisRedCyan
        << QByteArray("webp");
    QTest::newRow("png, red-green") << "--mode red-green --format png --batch in out"
                                    << AnaglyphMethod::RedGreen << QByteArray("png");
    QTest::newRow("jpg, flag after the folders") << "in out --format JPG --batch --mode normal"
                                                 << AnaglyphMethod::Normal << QByteArray("jpg");
    QTest::newRow("heic") << "--format heic --batch in out" << AnaglyphMethod::DuboisRedCyan
                          << QByteArray("heic");
    QTest::newRow("heic by --to") << "--to heic --batch in out" << AnaglyphMethod::DuboisRedCyan
                                  << QByteArray("heic");
}

void CombineOptionsTest::understandsABatch() {
    QFETCH(QString, arguments);
    QFETCH(AnaglyphMethod, mode);
    QFETCH(QByteArray, format);
    const ParsedCommandLine parsed = duoptica::parseCommandLine(commandLine(arguments));
    QCOMPARE(parsed.action, Action::Run);
    QVERIFY(parsed.options.batch);
    QCOMPARE(parsed.options.settings.mode, mode);
    QCOMPARE(duoptica::qtFormatName(parsed.options.settings.format), format);
    QCOMPARE(parsed.options.inputDir, QStringLiteral("in"));
    QCOMPARE(parsed.options.outputDir, QStringLiteral("out"));
}

void CombineOptionsTest::understandsStereoInputs_data() {
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<AnaglyphMethod>("mode");
    QTest::addColumn<StereoLayout>("layout");
    QTest::addColumn<bool>("swap");
    QTest::addColumn<int>("quality");
    QTest::newRow("one input, its layout from the file")
        << "--mode dubois-red-cyan photo.mpo out.jpg" << AnaglyphMethod::DuboisRedCyan
        << StereoLayout::FromFile << false << 90;
    QTest::newRow("parallel, swapped, quality 75")
        << "--layout parallel --swap --quality 75 --mode HALF-COLOR s.jpg o.jpg"
        << AnaglyphMethod::HalfColor << StereoLayout::Parallel << true << 75;
    QTest::newRow("into a heic, quality 75 by default")
        << "photo.mpo o.heic" << AnaglyphMethod::DuboisRedCyan << StereoLayout::FromFile << false
        << 75;
    QTest::newRow("into a heic, quality 90 given")
        << "--quality 90 photo.mpo o.heic" << AnaglyphMethod::DuboisRedCyan
        << StereoLayout::FromFile << false << 90;
    QTest::newRow("cross") << "--layout=cross --mode true s.png o.png" << AnaglyphMethod::True
                           << StereoLayout::Cross << false << 90;
    QTest::newRow("over-under, gray")
        << "--layout over-under --mode gray s.png o.bmp" << AnaglyphMethod::Gray
        << StereoLayout::OverUnder << false << 90;
    QTest::newRow("two files swapped, quality 1")
        << "--swap --quality 1 --mode color l.bmp r.bmp o.jpg" << AnaglyphMethod::Color
        << StereoLayout::Pair << true << 1;
    QTest::newRow("a batch reads .jps files as over-under")
        << "--layout over-under --mode dubois-amber-blue --batch in out"
        << AnaglyphMethod::DuboisAmberBlue << StereoLayout::OverUnder << false << 90;
    QTest::newRow("a batch, the .jps layout from the file, green-magenta")
        << "--mode dubois-green-magenta --quality 100 --batch in out"
        << AnaglyphMethod::DuboisGreenMagenta << StereoLayout::FromFile << false << 100;
}

void CombineOptionsTest::understandsStereoInputs() {
    QFETCH(QString, arguments);
    QFETCH(AnaglyphMethod, mode);
    QFETCH(StereoLayout, layout);
    QFETCH(bool, swap);
    QFETCH(int, quality);
    const ParsedCommandLine parsed = duoptica::parseCommandLine(commandLine(arguments));
    QCOMPARE(parsed.action, Action::Run);
    QCOMPARE(parsed.options.settings.mode, mode);
    QCOMPARE(parsed.options.layout, layout);
    QCOMPARE(parsed.options.settings.swap, swap);
    QCOMPARE(parsed.options.settings.jpegQuality, quality);
    if (parsed.options.batch)
        return;
    const QStringList files = commandLine(arguments).filter(QStringLiteral("."));
    QCOMPARE(parsed.options.leftFile, files.front());
    QCOMPARE(parsed.options.rightFile, layout == StereoLayout::Pair ? files[1] : QString());
    QCOMPARE(parsed.options.outputFile, files.back());
}

void CombineOptionsTest::understandsTheAlignment_data() {
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<WindowKind>("window");
    QTest::addColumn<int>("pixels");
    QTest::addColumn<bool>("verbose");
    QTest::newRow("window kept") << "--align l.bmp r.bmp o.bmp" << WindowKind::Keep << 0 << false;
    QTest::newRow("window auto, verbose, batch") << "--batch in out --align --window AUTO --verbose"
                                                 << WindowKind::NearestAtScreen << 0 << true;
    QTest::newRow("window forward 8 pixels")
        << "--align --window=-8 l.bmp r.bmp o.bmp" << WindowKind::Shift << -8 << false;
}

void CombineOptionsTest::understandsTheAlignment() {
    QFETCH(QString, arguments);
    QFETCH(WindowKind, window);
    QFETCH(int, pixels);
    QFETCH(bool, verbose);
    const ParsedCommandLine parsed = duoptica::parseCommandLine(commandLine(arguments));
    QCOMPARE(parsed.action, Action::Run);
    QVERIFY(parsed.options.settings.align);
    QCOMPARE(parsed.options.settings.align->window.kind, window);
    QCOMPARE(parsed.options.settings.align->window.pixels, pixels);
    QCOMPARE(parsed.options.settings.align->verbose, verbose);
}

void CombineOptionsTest::understandsTheEyeStages_data() {
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<bool>("matchColors");
    QTest::addColumn<int>("kind"); // -1: not resized
    QTest::addColumn<QSize>("size");
    const auto kind = [](EyeSize::Kind kind) { return int(kind); };
    QTest::newRow("colours only") << "--match-colors l.bmp r.bmp o.bmp" << true << -1 << QSize();
    QTest::newRow("into a box, upper-case x") << "--resize 800X600 l.bmp r.bmp o.bmp" << false
                                              << kind(EyeSize::Kind::Box) << QSize(800, 600);
    QTest::newRow("to a width, colours too, batch")
        << "--batch --resize=1600 --match-colors in out" << true << kind(EyeSize::Kind::Width)
        << QSize(1600, 0);
    QTest::newRow("the longer side") << "--max-size 1200 s.mpo o.png" << false
                                     << kind(EyeSize::Kind::LongerSide) << QSize(1200, 0);
}

void CombineOptionsTest::understandsTheEyeStages() {
    QFETCH(QString, arguments);
    QFETCH(bool, matchColors);
    QFETCH(int, kind);
    QFETCH(QSize, size);
    const ParsedCommandLine parsed = duoptica::parseCommandLine(commandLine(arguments));
    QCOMPARE(parsed.action, Action::Run);
    QCOMPARE(parsed.options.settings.adjust.matchColors, matchColors);
    QCOMPARE(parsed.options.settings.adjust.size.has_value(), kind >= 0);
    if (!parsed.options.settings.adjust.size)
        return;
    const EyeSize &eye = *parsed.options.settings.adjust.size;
    QCOMPARE(int(eye.kind), kind);
    const bool longer = eye.kind == EyeSize::Kind::LongerSide;
    QCOMPARE(QSize(longer ? eye.longerSide : eye.width, eye.height), size);
}

void CombineOptionsTest::refusesWhatItCannotDo_data() {
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("errorMentions");
    const auto row = [](const char *name, const char *arguments, const char *errorMentions) {
        QTest::newRow(name) << QString::fromLatin1(arguments) << QString::fromLatin1(errorMentions);
    };
    row("nothing at all", "", "LEFT RIGHT OUTPUT");
    row("one file", "l.bmp", "LEFT RIGHT OUTPUT");
    row("four files", "l.bmp r.bmp o.bmp x.bmp", "LEFT RIGHT OUTPUT");
    row("output of an unknown type", "l.bmp r.bmp out.tif", "out.tif");
    row("output without extension", "l.bmp r.bmp out", ".bmp, .png or .jpg");
    row("gif cannot be written", "l.bmp r.bmp out.gif", "out.gif");
    row("unknown mode", "--mode sepia l.bmp r.bmp o.bmp", "sepia");
    row("mode without value", "l.bmp r.bmp o.bmp --mode", "mode");
    row("two modes", "--mode normal --mode red-blue l.bmp r.bmp o.bmp", "mode");
    row("format for one pair", "--format png l.bmp r.bmp o.bmp", "--batch");
    row("batch with one folder", "--batch in", "folder");
    row("batch with three folders", "--batch in out more", "folder");
    row("batch to gif", "--format gif --batch in out", "gif");
    row("unknown option", "--fast l.bmp r.bmp o.bmp", "fast");
    row("unknown layout", "--layout diagonal s.jpg o.bmp", "diagonal");
    row("side-by-side layout with two inputs", "--layout cross l.bmp r.bmp o.bmp", "one INPUT");
    row("pair layout with one input", "--layout pair s.jpg o.bmp", "LEFT RIGHT OUTPUT");
    row("pair layout for a batch", "--layout pair --batch in out", ".jps");
    row("quality of zero", "--quality 0 l.bmp r.bmp o.jpg", "1 to 100");
    row("quality above 100", "--quality 101 l.bmp r.bmp o.jpg", "1 to 100");
    row("quality that is no number", "--quality high l.bmp r.bmp o.jpg", "high");
    row("shard for one pair", "--shard 0/2 l.bmp r.bmp o.bmp", "--shard is for --batch");
    row("pair-names for one pair", "--pair-names _0,_1 l.bmp r.bmp o.bmp", "--pair-names is for");
    row("pair-names of one ending", "--pair-names _0 --batch in out", "'_0'");
    row("pair-names the same twice", "--pair-names l,L --batch in out", "two different");
    row("report for one pair", "--report r.jsonl l.bmp r.bmp o.bmp", "--report");
    row("shard past the count", "--shard 4/4 --batch in out", "4/4");
    row("two shards", "--shard 0/2 --shard 1/2 --batch in out", "--shard");
    row("window auto twice without align", "--window auto --window auto l.bmp r.bmp o.bmp",
        "--window");
    row("verbose without align", "--verbose --batch in out", "--align");
    row("window neither auto nor pixels", "--align --window far l.bmp r.bmp o.bmp", "far");
    row("two windows", "--align --window 3 --window 4 l.bmp r.bmp o.bmp", "--window");
    row("resize to three sides", "--resize 4x3x2 l.bmp r.bmp o.bmp", "4x3x2");
    row("resize to no height", "--resize 640x l.bmp r.bmp o.bmp", "640x");
    row("resize to zero width", "--resize 0x480 --batch in out", "0x480");
    row("max-size past the largest side", "--max-size 30001 l.bmp r.bmp o.bmp", "30001");
    row("resize and max-size", "--resize 640 --max-size 800 l.bmp r.bmp o.bmp", "--max-size");
    row("two max-sizes", "--max-size 640 --max-size 800 l.bmp r.bmp o.bmp", "--max-size");
    row("no threads", "--jobs 0 --batch in out", "1 to 1024");
    row("threads that are no number", "--jobs all --batch in out", "'all'");
    row("unknown output", "--to lenticular l.bmp r.bmp o.png", "lenticular");
    row("mode with packed eyes", "--mode red-blue --to parallel l.bmp r.bmp o.png", "--mode");
    row("mpo into a png", "--to mpo l.bmp r.bmp o.png", ".mpo");
    row(".mpo name for another output", "--to pair l.bmp r.bmp o.mpo", "--to mpo");
    row("batch format mpo against --to", "--to jps --format mpo --batch in out", "--to mpo");
    row("heic into a jpeg", "--to heic l.bmp r.bmp o.jpg", "must end in .heic");
    row(".heic name for another output", "--to parallel l.bmp r.bmp o.heic", "--to heic");
    row("wiggle into a jpeg", "--to wiggle l.bmp r.bmp o.jpg", ".gif or .webp");
    row("wiggle batch to a jpeg", "--to wiggle --format jpg --batch in out",
        "gif (the default) or webp");
    row("fit of one side", "--fit 1920 l.bmp r.bmp o.png", "'1920'");
    row("fit past the largest side", "--fit 30001x10 l.bmp r.bmp o.png", "30001x10");
    row("fit of more megapixels than allowed", "--fit 20000x20000 l.bmp r.bmp o.png", "100 mega");
    row("fit with an mpo", "--to mpo --fit 1920x1080 l.bmp r.bmp o.mpo", "not for --to mpo");
    row("fit with a wiggle", "--fit 640x480 --to wiggle --batch in out", "wiggle");
    row("wiggle-ms without wiggle", "--wiggle-ms 100 l.bmp r.bmp o.png", "--to wiggle");
    row("wiggle-ms too short", "--to wiggle --wiggle-ms 5 l.bmp r.bmp o.gif", "20 to 10000");
    row("empty report name", "--report '' --batch in out", "--report");
    row("empty LEFT", "'' r.bmp o.bmp", "LEFT argument is empty");
    row("empty OUTPUT after one INPUT", "s.mpo ''", "OUTPUT argument is empty");
    row("empty OUTDIR", "--batch in ''", "OUTDIR argument is empty");
    row("zero megapixels", "--max-megapixels 0 l.bmp r.bmp o.bmp", "1 to 100");
    row("megapixels above the program's limit", "--max-megapixels 101 --batch in out", "1 to 100");
}

void CombineOptionsTest::refusesWhatItCannotDo() {
    QFETCH(QString, arguments);
    QFETCH(QString, errorMentions);
    const ParsedCommandLine parsed = duoptica::parseCommandLine(commandLine(arguments));
    QCOMPARE(parsed.action, Action::Fail);
    QVERIFY2(parsed.error.contains(errorMentions), qPrintable(parsed.error));
    QVERIFY(!parsed.error.contains(u'\n'));
}

void CombineOptionsTest::refusesRepeatsAndNumbersOutOfRange_data() {
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("error"); // empty: understood
    const auto twice = [](const char *option, const char *arguments) {
        QTest::newRow(qPrintable(u"twice --"_s + QLatin1StringView(option)))
            << QString::fromLatin1(arguments)
            << u"--%1 given more than once"_s.arg(QLatin1StringView(option));
    };
    twice("mode", "--mode normal --mode normal l.bmp r.bmp o.bmp");
    twice("layout", "--layout cross --layout cross s.jpg o.bmp");
    twice("quality", "--quality 90 --quality 80 l.bmp r.bmp o.jpg");
    twice("format", "--format png --format jpg --batch in out");
    twice("shard", "--shard 0/2 --shard 1/2 --batch in out");
    twice("report", "--report a.jsonl --report b.jsonl --batch in out");
    twice("jobs", "--jobs 2 --jobs 3 --batch in out");
    twice("window", "--align --window 3 --window 4 l.bmp r.bmp o.bmp");
    twice("resize", "--resize 640 --resize 800 l.bmp r.bmp o.bmp");
    twice("max-size", "--max-size 640 --max-size 800 l.bmp r.bmp o.bmp");
    twice("to", "--to parallel --to cross l.bmp r.bmp o.png");
    twice("wiggle-ms", "--to wiggle --wiggle-ms 100 --wiggle-ms 200 l.bmp r.bmp o.gif");
    twice("max-megapixels", "--max-megapixels 50 --max-megapixels 60 --batch in out");
    const auto outside = [](const char *option, const char *says, int value, int min, int max) {
        QTest::newRow(qPrintable(u"--%1 %2"_s.arg(QLatin1StringView(option)).arg(value)))
            << u"--to wiggle --%1 %2 l.bmp r.bmp o.gif"_s.arg(QLatin1StringView(option)).arg(value)
            << u"--%1 takes %2 from %3 to %4, not '%5'"_s
                   .arg(QLatin1StringView(option), QLatin1StringView(says))
                   .arg(min)
                   .arg(max)
                   .arg(value);
    };
    for (const auto &[option, says, min, max] :
         {std::tuple{"quality", "a whole number", 1, 100},
          {"jobs", "one whole number", 1, 1024},
          {"max-size", "a whole number of pixels", 1, 30000},
          {"wiggle-ms", "a whole number of milliseconds", 20, 10000},
          {"max-megapixels", "a whole number", 1, 100}}) {
        outside(option, says, min - 1, min, max);
        outside(option, says, max + 1, min, max);
    }
    QTest::newRow("every number at its least")
        << u"--quality 1 --jobs 1 --max-size 1 --max-megapixels 1 --to wiggle --wiggle-ms 20 "
           "l.bmp r.bmp o.gif"_s
        << QString();
    QTest::newRow("every number at its most")
        << u"--quality 100 --jobs 1024 --max-size 30000 --max-megapixels 100 --to wiggle "
           "--wiggle-ms 10000 l.bmp r.bmp o.gif"_s
        << QString();
}

void CombineOptionsTest::refusesRepeatsAndNumbersOutOfRange() {
    QFETCH(QString, arguments);
    QFETCH(QString, error);
    const ParsedCommandLine parsed = duoptica::parseCommandLine(commandLine(arguments));
    QCOMPARE(parsed.error, error);
    QCOMPARE(parsed.action, error.isEmpty() ? Action::Run : Action::Fail);
}

void CombineOptionsTest::helpAndVersionWinOverTheRest_data() {
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<Action>("action");
    QTest::newRow("--help alone") << "--help" << Action::ShowHelp;
    QTest::newRow("-h with a wrong command line") << "-h l.bmp" << Action::ShowHelp;
    QTest::newRow("--version with files") << "--version l.bmp r.bmp o.bmp" << Action::ShowVersion;
}

void CombineOptionsTest::helpAndVersionWinOverTheRest() {
    QFETCH(QString, arguments);
    QFETCH(Action, action);
    QCOMPARE(duoptica::parseCommandLine(commandLine(arguments)).action, action);
}

QTEST_GUILESS_MAIN(CombineOptionsTest)
#include "tst_combineoptions.moc"
