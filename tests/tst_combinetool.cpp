// duoptica-combine as a user runs it: files in, files out, messages and exit statuses.
#include "combine_pictures.h"
#include "deflate_join.h"
#include "exit_code.h"
#include "file_size_limit.h"
#include "general_path.h"
#include "pair_paths.h"
#include "picture_file.h"
#include "picture_fixtures.h"
#include "run_program.h"
#include "synthetic_stereo.h"
#include "test_pixels.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <optional>
#include <poll.h>
#include <random>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>

using duoptica::CombineMode;
using duoptica::ExitCode;

Q_DECLARE_METATYPE(CombineMode)
Q_DECLARE_METATYPE(ExitCode)

// What the pictures of a PNG output hold.
enum class PngContent { Noise, Smooth, PhotographAboveSmooth };
Q_DECLARE_METATYPE(PngContent)

namespace {

ProgramRun runTool(const QStringList &arguments) {
    return runProgram(QStringLiteral(DUOPTICA_COMBINE), arguments);
}

// What --mode color makes of two eyes: red from the left, green and blue from the right.
QImage colorAnaglyph(const QImage &left, const QImage &right) {
    QImage output(left.size(), QImage::Format_RGB32);
    for (int y = 0; y < left.height(); ++y)
        for (int x = 0; x < left.width(); ++x)
            output.setPixel(
                x, y,
                qRgb(qRed(left.pixel(x, y)), qGreen(right.pixel(x, y)), qBlue(right.pixel(x, y))));
    return output;
}

// Two eyes that differ everywhere but along the middle, and differently in each channel.
QImage leftEye(QSize size) {
    return fixtures::smoothPicture(size);
}
QImage rightEye(QSize size) {
    return fixtures::smoothPicture(size).mirrored(true, false);
}

// Both eyes in one picture, with a column or row of white past them when asked. A JPEG goes
// without: its blocks would smear the white into the eyes.
QImage bothEyes(const QImage &first, const QImage &second, bool sideBySide, int spare = 1) {
    const QSize size = sideBySide ? QSize(2 * first.width() + spare, first.height())
                                  : QSize(first.width(), 2 * first.height() + spare);
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.drawImage(0, 0, first);
    painter.drawImage(sideBySide ? first.width() : 0, sideBySide ? 0 : first.height(), second);
    return picture;
}

// A --report file: every line a JSON object, the pairs' lines and then one summary line.
struct BatchReportLines {
    QList<QJsonObject> pairs;
    QJsonObject summary;
    QString error; // empty when the file is as described
};

BatchReportLines readReport(const QString &file) {
    BatchReportLines report;
    const QList<QByteArray> lines = fixtures::readFile(file).split('\n');
    if (lines.size() < 2 || !lines.back().isEmpty())
        return {{}, {}, QStringLiteral("no whole line in ") + file};
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        QJsonParseError parseError;
        const QJsonDocument line = QJsonDocument::fromJson(lines[i], &parseError);
        if (!line.isObject())
            return {{}, {}, QStringLiteral("line %1 is no JSON object: ").arg(i + 1) + lines[i]};
        const QString type = line.object().value(u"type").toString();
        const bool last = i + 2 == lines.size();
        if (type != (last ? u"summary" : u"pair"))
            return {{}, {}, QStringLiteral("line %1 is of type '%2'").arg(i + 1).arg(type)};
        (last ? report.summary : report.pairs.emplace_back()) = line.object();
    }
    return report;
}

// The outputs of the report's pairs of one status, by file name.
QStringList outputsWithStatus(const BatchReportLines &report, const QString &status) {
    QStringList outputs;
    for (const QJsonObject &pair : report.pairs)
        if (pair.value(u"status").toString() == status)
            outputs << QFileInfo(pair.value(u"output").toString()).fileName();
    return outputs;
}

// An uncompressed BMP of the picture in the layout, stored top-down when asked: Qt reads a
// bottom-up file of the picture upside down, with its height negated, as the picture itself.
QByteArray uncompressedBmp(const QImage &picture, bool thirtyTwoBits, bool topDown) {
    using fixtures::BmpLayout;
    const BmpLayout layout = thirtyTwoBits ? BmpLayout::Rgb32 : BmpLayout::Rgb24;
    if (!topDown)
        return fixtures::bmpBytes(picture, layout);
    QByteArray bytes = fixtures::bmpBytes(picture.mirrored(false, true), layout);
    const qint32 height = -picture.height();
    for (int i = 0; i < 4; ++i)
        bytes[22 + i] = char(quint32(height) >> (8 * i));
    return bytes;
}

// The picture as ImageMagick writes it with the options, in the format of the name's extension.
// Empty when convert fails.
QByteArray magickFile(const QImage &picture, const QStringList &options, const QString &name) {
    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("in.png"));
    const QString output = dir.filePath(name);
    if (!picture.save(png))
        return {};
    const ProgramRun run = runProgram(QStandardPaths::findExecutable(QStringLiteral("convert")),
                                      QStringList{png} + options + QStringList{output});
    return run.exitCode == 0 ? fixtures::readFile(output) : QByteArray();
}

// A JPEG of the picture as ImageMagick writes it with the options, for the encodings Qt's writer
// never makes (other subsamplings, no JFIF segment). Empty when convert fails.
QByteArray magickJpeg(const QImage &picture, const QStringList &options) {
    return magickFile(picture, options, QStringLiteral("out.jpg"));
}

// A little-endian TIFF whose first directory declares the size given instead of its own, its
// strips left as they are.
QByteArray tiffDeclaring(QByteArray tiff, int width, int height) {
    const auto number = [&](qsizetype at, int bytes) {
        quint32 value = 0;
        for (int i = bytes - 1; i >= 0; --i)
            value = value << 8 | quint8(tiff[at + i]);
        return value;
    };
    if (!tiff.startsWith("II*"))
        return {};
    const qsizetype directory = number(4, 4);
    for (quint32 entry = 0; entry < number(directory, 2); ++entry) {
        const qsizetype at = directory + 2 + qsizetype(entry) * 12;
        const quint32 tag = number(at, 2);
        if (tag != 256 && tag != 257) // ImageWidth, ImageLength
            continue;
        const quint32 value = tag == 256 ? width : height;
        const int bytes = number(at + 2, 2) == 3 ? 2 : 4; // SHORT or LONG
        for (int i = 0; i < bytes; ++i)
            tiff[at + 8 + i] = char(value >> (8 * i));
    }
    return tiff;
}

// The JPEG without its JFIF segment, which Qt's writer puts first: no resolution of its own.
QByteArray withoutJfif(const QByteArray &jpeg) {
    const int length = uchar(jpeg[4]) << 8 | uchar(jpeg[5]);
    return jpeg.left(2) + jpeg.mid(4 + length);
}

// The PNG without its pHYs chunk: a picture without a resolution of its own.
QByteArray withoutResolution(QByteArray png) {
    const qsizetype type = png.indexOf("pHYs");
    if (type >= 4)
        png.remove(type - 4, 4 + 4 + 9 + 4); // length, type, payload, CRC
    return png;
}

// Smooth colours, with a photograph's mild noise (up to 8 levels a channel) in the upper half.
QImage photographAboveSmooth(QSize size, unsigned seed) {
    QImage picture = fixtures::smoothPicture(size);
    std::mt19937 random(seed);
    const auto noisy = [&](int channel) {
        return std::clamp(channel + int(random() % 17) - 8, 0, 255);
    };
    for (int y = 0; y < size.height() / 2; ++y) {
        auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            row[x] = qRgb(noisy(qRed(row[x])), noisy(qGreen(row[x])), noisy(qBlue(row[x])));
    }
    return picture;
}

QImage withResolution(QImage picture, int dotsPerMeter) {
    picture.setDotsPerMeterX(dotsPerMeter);
    picture.setDotsPerMeterY(dotsPerMeter + 1);
    return picture;
}

// The whole-picture path (both eyes decoded by Qt and turned upright, combined and saved with
// the left eye's EXIF made upright), which the streamed one must match; empty on success.
QString writeWholePictureOutput(const duoptica::PairJob &job) {
    return duoptica::combineWholePictures(job, duoptica::Threads::All).message;
}

ino_t inodeOf(const QString &file) {
    struct stat status {};
    return stat(QFile::encodeName(file).constData(), &status) == 0 ? status.st_ino : 0;
}

// Cuts a file to a quarter of its size a moment after a program has read its first bytes (a
// picture's headers), while the program goes on to read the rest.
class ShrinkAfterFirstRead {
public:
    explicit ShrinkAfterFirstRead(const QString &file)
        : name_(QFile::encodeName(file))
        , watch_(inotify_init1(IN_NONBLOCK)) {
        inotify_add_watch(watch_, name_.constData(), IN_ACCESS);
        thread_ = std::thread([this] { run(); });
    }
    ~ShrinkAfterFirstRead() {
        stop_ = true;
        thread_.join();
        ::close(watch_);
    }
    bool shrank() const { return shrank_; }

private:
    void run() {
        pollfd ready{watch_, POLLIN, 0};
        while (!stop_ && ::poll(&ready, 1, 20) == 0) {
        }
        if (stop_)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        shrank_ = ::truncate(name_.constData(), QFileInfo(name_).size() / 4) == 0;
    }

    QByteArray name_;
    int watch_;
    std::atomic<bool> stop_ = false;
    std::atomic<bool> shrank_ = false;
    std::thread thread_;
};

} // namespace

class CombineToolTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void combinesEveryPixelByTheRule_data();
    void combinesEveryPixelByTheRule();
    void showsTransparentPartsAsTheWindowDoes();
    void writesAStereoOutputByDefault_data();
    void writesAStereoOutputByDefault();
    void combinesUncompressedBmpsAsFromAnyOtherFormat_data();
    void combinesUncompressedBmpsAsFromAnyOtherFormat();
    void reportsEachFailureInOneLine_data();
    void reportsEachFailureInOneLine();
    void batchSkipsBadPairsAndReportsUnpairedFiles_data();
    void batchSkipsBadPairsAndReportsUnpairedFiles();
    void batchPairsEveryNamingAndNamesWhatItLeft_data();
    void batchPairsEveryNamingAndNamesWhatItLeft();
    void batchWritingNoPairExitsWithItsFailuresStatus_data();
    void batchWritingNoPairExitsWithItsFailuresStatus();
    void batchRefusesWhatItCannotStart_data();
    void batchRefusesWhatItCannotStart();
    void readsEachStereoInput_data();
    void readsEachStereoInput();
    void batchTakesPairsAndFilesHoldingBothEyes();
    void qualitySetsTheJpegOutput();
    void deflateStreamsJoinedInflateAsOne_data();
    void deflateStreamsJoinedInflateAsOne();
    void writesPngOfThePicturesPixels_data();
    void writesPngOfThePicturesPixels();
    void streamsJpegPairsIntoTheWholePicturesBytes_data();
    void streamsJpegPairsIntoTheWholePicturesBytes();
    void batchOfMixedFormatsWritesTheWholePicturesJpegs();
    void streamedJpegOnAFullDiskGivesTheReason();
    void shardsTogetherWriteEveryPairOnce_data();
    void shardsTogetherWriteEveryPairOnce();
    void batchRefusesABadShardNamingTheVariable_data();
    void batchRefusesABadShardNamingTheVariable();
    void killedBatchIsFinishedByARerunWithSkipExisting();
    void skipExistingLeavesOnePairsOutput_data();
    void skipExistingLeavesOnePairsOutput();
    void removesOnlyItsOwnPairsLeftoverTemporaries_data();
    void removesOnlyItsOwnPairsLeftoverTemporaries();
    void reportCountsMatchTheExitStatus_data();
    void reportCountsMatchTheExitStatus();
    void batchAlignsEachPairOrCountsItFailed();
    void helpListsTheExitStatuses();
    void combinesTiffAndWebpPairs_data();
    void combinesTiffAndWebpPairs();
    void roundsSixteenBitChannelsToEight();
    void readsPicturesLargerThanQtAllowsByDefault();

private:
    QString path(const QString &name) const { return dir_->filePath(name); }
    // NAME_L.bmp and NAME_R.png in folder "in" for each name, seeded by its position.
    void makePairs(const QStringList &names, QSize size);
    std::unique_ptr<QTemporaryDir> dir_;
};

void CombineToolTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void CombineToolTest::combinesEveryPixelByTheRule_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<CombineMode>("rule");
    QTest::addColumn<QString>("output");
    QTest::newRow("normal to bmp") << "normal" << CombineMode::Normal << "out.bmp";
    QTest::newRow("normal to png") << "normal" << CombineMode::Normal << "out.png";
    QTest::newRow("red-blue to bmp") << "red-blue" << CombineMode::RedBlue << "out.bmp";
    QTest::newRow("red-green to png") << "red-green" << CombineMode::RedGreen << "out.PNG";
}

void CombineToolTest::combinesEveryPixelByTheRule() {
    QFETCH(QString, mode);
    QFETCH(CombineMode, rule);
    QFETCH(QString, output);
    // Odd sizes leave a tail that does not fill a vector or a thread's chunk.
    const QImage left = randomPicture({613, 407}, 1);
    const QImage right = randomPicture({613, 407}, 2);
    QVERIFY(left.save(path("left.bmp")));
    QVERIFY(right.save(path("right.png")));

    QStringList arguments{path("left.bmp"), path("right.png"), path(output)};
    if (!mode.isEmpty())
        arguments = QStringList{QStringLiteral("--mode"), mode} + arguments;
    const ProgramRun run = runTool(arguments);

    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QByteArray());
    const QString difference = differenceFromRule(left, right, QImage(path(output)), rule);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files).size(), 3); // no temporary file left
}

// Without --mode and --to: a Dubois red-cyan anaglyph; a batch's --to wiggle writes GIFs.
// The arguments name files in the test's folder ("in" holding the pair a_L.bmp, a_R.png);
// expected: the output's bytes are those of the reference command line's, if one is given.
void CombineToolTest::writesAStereoOutputByDefault_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QStringList>("reference");
    QTest::newRow("one pair") << QStringList{"in/a_L.bmp", "in/a_R.png", "out.png"} << "out.png"
                              << QStringList{"--mode", "dubois-red-cyan", "in/a_L.bmp",
                                             "in/a_R.png", "ref.png"};
    QTest::newRow("a batch") << QStringList{"--batch", "in", "out"} << "out/a.bmp"
                             << QStringList{"--mode", "dubois-red-cyan", "--batch", "in", "ref"};
    QTest::newRow("a batch's wiggle")
        << QStringList{"--to", "wiggle", "--batch", "in", "out"} << "out/a.gif" << QStringList{};
}

void CombineToolTest::writesAStereoOutputByDefault() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, output);
    QFETCH(QStringList, reference);
    makePairs({"a"}, {24, 16});
    const auto inFolder = [this](QStringList arguments) {
        for (QString &argument : arguments)
            if (argument.startsWith(u"in") || argument.startsWith(u"out") ||
                argument.startsWith(u"ref"))
                argument = path(argument);
        return arguments;
    };

    const ProgramRun run = runTool(inFolder(arguments));

    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QByteArray());
    const QByteArray bytes = fixtures::readFile(path(output));
    QVERIFY(!bytes.isEmpty());
    if (reference.isEmpty()) {
        QCOMPARE(QImageReader(path(output)).format(), QByteArray("gif"));
        return;
    }
    QCOMPARE(runTool(inFolder(reference)).exitCode, 0);
    QCOMPARE(bytes, fixtures::readFile(path(
                        QString(output).replace(QStringLiteral("out"), QStringLiteral("ref")))));
}

void CombineToolTest::showsTransparentPartsAsTheWindowDoes() {
    // Transparent pixels show the surfaces' background colour 0x404040 in the window.
    QImage left(4, 1, QImage::Format_ARGB32);
    left.setPixel(0, 0, 0x00FFFFFF);
    left.setPixel(1, 0, 0xFF102030);
    left.setPixel(2, 0, 0x00000000);
    left.setPixel(3, 0, 0xFFFFFFFF);
    QImage right(4, 1, QImage::Format_RGB32);
    right.fill(0xFF000000);
    QVERIFY(left.save(path("left.png")));
    QVERIFY(right.save(path("right.bmp")));

    const ProgramRun run =
        runTool({"--mode", "normal", path("left.png"), path("right.bmp"), path("out.bmp")});

    QCOMPARE(run.exitCode, 0);
    const QImage output(path("out.bmp"));
    QCOMPARE(output.pixel(0, 0), 0xFF202020u);
    QCOMPARE(output.pixel(1, 0), 0xFF081018u);
    QCOMPARE(output.pixel(2, 0), 0xFF202020u);
    QCOMPARE(output.pixel(3, 0), 0xFF808080u);
}

void CombineToolTest::combinesUncompressedBmpsAsFromAnyOtherFormat_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("left32");
    QTest::addColumn<bool>("leftTopDown");
    QTest::addColumn<bool>("right32");
    QTest::addColumn<bool>("rightTopDown");
    QTest::addColumn<QStringList>("options");
    // When set, both BMPs are ImageMagick's in this format, of pictures without a resolution.
    QTest::addColumn<QString>("magickFormat");
    // Odd widths pad the rows; more rows than a band and a thread take.
    QTest::newRow("24-bit bottom-up, normal")
        << QSize(613, 407) << false << false << false << false << QStringList() << QString();
    QTest::newRow("24-bit top-down, red-blue") << QSize(101, 131) << false << true << false << true
                                               << QStringList{"--mode", "red-blue"} << QString();
    QTest::newRow("32-bit bottom-up, red-green") << QSize(99, 70) << true << false << true << false
                                                 << QStringList{"--mode", "red-green"} << QString();
    QTest::newRow("32-bit top-down with 24-bit bottom-up, dubois-red-cyan")
        << QSize(35, 200) << true << true << false << false
        << QStringList{"--mode", "dubois-red-cyan"} << QString();
    QTest::newRow("24-bit top-down with 32-bit bottom-up, swapped, half-color")
        << QSize(1, 3) << false << true << true << false
        << QStringList{"--swap", "--mode", "half-color"} << QString();
    QTest::newRow("ImageMagick's BMP3, resolution 0")
        << QSize(77, 90) << false << false << false << false << QStringList() << "BMP3";
    QTest::newRow("ImageMagick's BMP, Windows 98 header and resolution 0, dubois-amber-blue")
        << QSize(78, 66) << false << false << false << false
        << QStringList{"--mode", "dubois-amber-blue"} << "BMP";
}

void CombineToolTest::combinesUncompressedBmpsAsFromAnyOtherFormat() {
    QFETCH(QSize, size);
    QFETCH(bool, left32);
    QFETCH(bool, leftTopDown);
    QFETCH(bool, right32);
    QFETCH(bool, rightTopDown);
    QFETCH(QStringList, options);
    QFETCH(QString, magickFormat);
    QImage left = randomPicture(size, 11);
    QImage right = randomPicture(size, 12);
    // The output keeps the left's resolution: the PNG copies carry the BMPs' own.
    for (QImage *picture : {&left, &right}) {
        picture->setDotsPerMeterX(2835);
        picture->setDotsPerMeterY(2835);
    }
    if (magickFormat.isEmpty()) {
        QVERIFY(fixtures::writeFile(path("left.bmp"), uncompressedBmp(left, left32, leftTopDown)));
        QVERIFY(
            fixtures::writeFile(path("right.bmp"), uncompressedBmp(right, right32, rightTopDown)));
        QVERIFY(left.save(path("left.png")));
        QVERIFY(right.save(path("right.png")));
    } else {
        for (const auto &[eye, name] : {std::pair{&left, "left"}, {&right, "right"}}) {
            const QString png = path(name + QStringLiteral(".png"));
            QVERIFY(fixtures::writeFile(png, withoutResolution(fixtures::pngBytes(*eye))));
            QCOMPARE(runProgram(QStandardPaths::findExecutable(QStringLiteral("convert")),
                                {png, magickFormat + u':' + path(name + QStringLiteral(".bmp"))})
                         .exitCode,
                     0);
        }
    }
    // The direct path takes them: it gives an outcome, where it would leave any other pair.
    const duoptica::PairJob job{.leftFile = path("left.bmp"),
                                .rightFile = path("right.bmp"),
                                .outputFile = path("direct.bmp"),
                                .settings = {.format = duoptica::FileFormat::Bmp}};
    const std::optional<duoptica::Outcome> direct =
        runOnPath(duoptica::PairPath::BmpDirect, job, duoptica::Threads::One);
    QVERIFY(direct && direct->code == ExitCode::Success);

    const ProgramRun fromBmp =
        runTool(options + QStringList{path("left.bmp"), path("right.bmp"), path("bmp.bmp")});
    const ProgramRun fromPng =
        runTool(options + QStringList{path("left.png"), path("right.png"), path("png.bmp")});

    QCOMPARE(fromBmp.exitCode, 0);
    QCOMPARE(fromBmp.err, QByteArray());
    QCOMPARE(fromPng.exitCode, 0);
    const QByteArray expected = fixtures::readFile(path("png.bmp"));
    QVERIFY(!expected.isEmpty());
    QCOMPARE(fixtures::readFile(path("bmp.bmp")), expected);
}

void CombineToolTest::reportsEachFailureInOneLine_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<ExitCode>("code");
    QTest::addColumn<QStringList>("messageMentions");
    QTest::newRow("sizes differ") << QStringList{"left.bmp", "small.bmp", "out.bmp"}
                                  << ExitCode::SizeMismatch
                                  << QStringList{"Pictures not equal size!", "left.bmp",
                                                 "small.bmp", "40x30", "40x29"};
    QTest::newRow("left file missing") << QStringList{"none.bmp", "right.bmp", "out.bmp"}
                                       << ExitCode::UnreadableInput << QStringList{"none.bmp"};
    QTest::newRow("right file holds no picture")
        << QStringList{"left.bmp", "text.jpg", "out.bmp"} << ExitCode::UnreadableInput
        << QStringList{"text.jpg"};
    QTest::newRow("right file is a truncated PNG")
        << QStringList{"left.bmp", "cut.png", "out.bmp"} << ExitCode::UnreadableInput
        << QStringList{"cut.png", "truncated"};
    // libjpeg's own warning ("Corrupt JPEG data: premature end of data segment") would be a
    // line naming no file.
    QTest::newRow("right file is a truncated JPEG")
        << QStringList{"left.bmp", "cut.jpg", "out.bmp"} << ExitCode::UnreadableInput
        << QStringList{"cut.jpg", "truncated"};
    // A JPEG written as a JPEG is decoded a band at a time: cut short in a band or after the
    // last, it must still be refused.
    QTest::newRow("JPEG into a JPEG, the right one truncated")
        << QStringList{"whole.jpg", "cut.jpg", "out.jpg"} << ExitCode::UnreadableInput
        << QStringList{"cut.jpg", "truncated"};
    QTest::newRow("JPEG into a JPEG, the right one of 5000 scans")
        << QStringList{"eye64.jpg", "scans.jpg", "out.jpg"} << ExitCode::UnreadableInput
        << QStringList{"scans.jpg", "5000 scans"};
    QTest::newRow("JPEG into a JPEG, the left one lacking only its end marker")
        << QStringList{"endless.jpg", "whole.jpg", "out.jpg"} << ExitCode::UnreadableInput
        << QStringList{"endless.jpg", "truncated"};
    // libpng prints its own error for it ("libpng error: IDAT: incorrect data check").
    QTest::newRow("right PNG whose compressed data is damaged")
        << QStringList{"left.bmp", "damaged.png", "out.bmp"} << ExitCode::UnreadableInput
        << QStringList{"damaged.png", "cannot read"};
    QTest::newRow("right BMP cut short")
        << QStringList{"left.bmp", "cut.bmp", "out.bmp"} << ExitCode::UnreadableInput
        << QStringList{"cut.bmp", "truncated"};
    QTest::newRow("left BMP claiming more rows than it holds")
        << QStringList{"tall.bmp", "right.bmp", "out.bmp"} << ExitCode::UnreadableInput
        << QStringList{"tall.bmp", "truncated"};
    // Read a band at a time: it must be refused, never end the tool.
    QTest::newRow("right BMP shrinking while it is read")
        << QStringList{"--mode", "dubois-red-cyan", "large.bmp", "shrinking.bmp", "out.bmp"}
        << ExitCode::UnreadableInput << QStringList{"shrinking.bmp", "truncated"};
    QTest::newRow("left BMP claiming its rows lie past its end")
        << QStringList{"far.bmp", "right.bmp", "out.bmp"} << ExitCode::UnreadableInput
        << QStringList{"far.bmp"};
    QTest::newRow("output folder missing")
        << QStringList{"left.bmp", "right.bmp", "missing/out.bmp"} << ExitCode::WriteFailure
        << QStringList{"missing/out.bmp"};
    QTest::newRow("output is the left input")
        << QStringList{"left.bmp", "right.bmp", "left.bmp"} << ExitCode::Usage
        << QStringList{"left.bmp", "overwrite"};
    QTest::newRow("one picture that is no MPO, given no layout")
        << QStringList{"left.bmp", "right.bmp"} << ExitCode::Usage
        << QStringList{"left.bmp", "--layout", "--help"};
    QTest::newRow("two MPOs as LEFT and RIGHT")
        << QStringList{"stereo.mpo", "uneven.mpo", "out.jpg"} << ExitCode::Usage
        << QStringList{"stereo.mpo and", "uneven.mpo", "give one of them alone"};
    QTest::newRow("MPO of one image")
        << QStringList{"one.mpo", "out.bmp"} << ExitCode::UnreadableInput
        << QStringList{"one.mpo", "only one image"};
    // Sparse: a few kilobytes on disk. Its images are read as its index gives them, never whole.
    QTest::newRow("MPO of 1.5 GiB into a JPEG")
        << QStringList{"huge.mpo", "out.jpg"} << ExitCode::UnreadableInput
        << QStringList{"huge.mpo", "larger than 1024 MiB"};
    QTest::newRow("MPO whose eyes differ in size")
        << QStringList{"uneven.mpo", "out.bmp"} << ExitCode::SizeMismatch
        << QStringList{"uneven.mpo (image 1) is 40x30", "uneven.mpo (image 2) is 40x29"};
    QTest::newRow("picture too narrow for two eyes")
        << QStringList{"--layout", "parallel", "thin.png", "out.bmp"} << ExitCode::UnreadableInput
        << QStringList{"thin.png", "too small"};
    QTest::newRow("right file is a truncated TIFF")
        << QStringList{"left.bmp", "cut.tif", "out.bmp"} << ExitCode::UnreadableInput
        << QStringList{"cut.tif", "cannot read"};
    QTest::newRow("right file is a truncated WebP")
        << QStringList{"left.bmp", "cut.webp", "out.bmp"} << ExitCode::UnreadableInput
        << QStringList{"cut.webp", "cannot read"};
    QTest::newRow("left TIFF declaring 400 megapixels")
        << QStringList{"huge.tif", "right.bmp", "out.bmp"} << ExitCode::UnreadableInput
        << QStringList{"huge.tif", "20000 × 20000", "100 megapixels"};
    QTest::newRow("MPO given a side-by-side layout")
        << QStringList{"--layout", "parallel", "stereo.mpo", "out.bmp"} << ExitCode::Usage
        << QStringList{"stereo.mpo", "MPO", "without --layout"};
    QTest::newRow("unknown mode, whose message points to the help for the list")
        << QStringList{"--mode", "sbs", "left.bmp", "right.bmp", "out.bmp"} << ExitCode::Usage
        << QStringList{"'sbs'", "see --help for the list"};
    QTest::newRow("aligning a pair without features")
        << QStringList{"--align", "flatleft.bmp", "flatright.bmp", "out.bmp"}
        << ExitCode::CannotAlign
        << QStringList{"flatright.bmp", "flatleft.bmp", "cannot align",
                       "--verbose shows the matches"};
    QTest::newRow("aligning the eyes of a 5x3 JPEG read over-under")
        << QStringList{"--align", "--layout", "over-under", "tiny.jpg", "out.bmp"}
        << ExitCode::CannotAlign << QStringList{"tiny.jpg", "at least 64"};
    QTest::newRow("right JPEG whose scan stops early, then its end marker")
        << QStringList{"left.bmp", "stopped.jpg", "out.bmp"} << ExitCode::UnreadableInput
        << QStringList{"stopped.jpg", "truncated"};
    QTest::newRow("JPEG into a JPEG, the right one's scan stopping early")
        << QStringList{"whole.jpg", "stopped.jpg", "out.jpg"} << ExitCode::UnreadableInput
        << QStringList{"stopped.jpg", "truncated"};
    // libjpeg passes on only the first warning of a picture, here about the stray bytes.
    QTest::newRow("JPEG whose stray bytes come before its scan stops early")
        << QStringList{"whole.jpg", "strayed.jpg", "out.jpg"} << ExitCode::UnreadableInput
        << QStringList{"strayed.jpg", "truncated"};
    QTest::newRow("JPEG claiming 10000 x 10000 over a small picture's scan data")
        << QStringList{"claims.jpg", "whole.jpg", "out.bmp"} << ExitCode::UnreadableInput
        << QStringList{"claims.jpg", "truncated"};
    QTest::newRow("progressive JPEGs claiming 10000 x 10000, into a JPEG")
        << QStringList{"claimsp.jpg", "claimsp.jpg", "out.jpg"} << ExitCode::UnreadableInput
        << QStringList{"claimsp.jpg", "truncated"};
    QTest::newRow("BMPs above --max-megapixels")
        << QStringList{"--max-megapixels", "1", "big.bmp", "big.bmp", "out.bmp"}
        << ExitCode::UnreadableInput << QStringList{"big.bmp", "more than 1 megapixels"};
    QTest::newRow("stereo HEIC cut short")
        << QStringList{"cut.heic", "out.bmp"} << ExitCode::UnreadableInput
        << QStringList{"cut.heic", "cut short"};
    QTest::newRow("stereo HEIC whose group names a missing item")
        << QStringList{"missing.heic", "out.bmp"} << ExitCode::UnreadableInput
        << QStringList{"missing.heic", "and 1007, which are not both images"};
    QTest::newRow("stereo HEIC whose group's count lies")
        << QStringList{"lying.heic", "out.bmp"} << ExitCode::UnreadableInput
        << QStringList{"lying.heic", "ster group is cut short"};
    QTest::newRow("stereo HEIC whose eyes differ in size")
        << QStringList{"uneven.heic", "out.bmp"} << ExitCode::UnreadableInput
        << QStringList{"uneven.heic", "40x30 and 40x28"};
    QTest::newRow("HEIC whose coded image is damaged")
        << QStringList{"left.bmp", "damaged.heic", "out.bmp"} << ExitCode::UnreadableInput
        << QStringList{"damaged.heic", "libheif"};
    QTest::newRow("LIF whose JSON names an image it does not hold")
        << QStringList{"lying.lif", "out.bmp"} << ExitCode::UnreadableInput
        << QStringList{"lying.lif", "names image 1000009"};
    QTest::newRow("a photo with a smaller preview joined after it is one picture")
        << QStringList{"previewed.jpg", "out.bmp"} << ExitCode::Usage
        << QStringList{"previewed.jpg", "not an MPO file"};
    QTest::newRow("extended XMP whose chunks are out of order")
        << QStringList{"reversed.xmp", "out.bmp"} << ExitCode::UnreadableInput
        << QStringList{"reversed.xmp", "out of order"};
    QTest::newRow("extended XMP declaring 100 MiB")
        << QStringList{"large.xmp", "out.bmp"} << ExitCode::UnreadableInput
        << QStringList{"large.xmp", "larger than 64 MiB"};
    QTest::newRow("HEIC without a stereo group, alone")
        << QStringList{"plain.heic", "out.bmp"} << ExitCode::Usage
        << QStringList{"plain.heic", "without a stereo group"};
    QTest::newRow("JPEGs above --max-megapixels, into a JPEG")
        << QStringList{"--max-megapixels", "1", "big.jpg", "big.jpg", "out.jpg"}
        << ExitCode::UnreadableInput << QStringList{"big.jpg", "more than 1 megapixels"};
}

void CombineToolTest::reportsEachFailureInOneLine() {
    QFETCH(QStringList, arguments);
    QFETCH(ExitCode, code);
    QFETCH(QStringList, messageMentions);
    QVERIFY(randomPicture({40, 30}, 3).save(path("left.bmp")));
    QVERIFY(randomPicture({40, 30}, 4).save(path("right.bmp")));
    QVERIFY(randomPicture({40, 29}, 5).save(path("small.bmp")));
    QVERIFY(randomPicture({40, 30}, 6).save(path("cut.png")));
    QVERIFY(QFile::resize(path("cut.png"), QFileInfo(path("cut.png")).size() / 2));
    const QByteArray jpeg = fixtures::jpegBytes(randomPicture({40, 30}, 6));
    QVERIFY(fixtures::writeFile(path("cut.jpg"), jpeg.left(jpeg.size() / 2)));
    QVERIFY(fixtures::writeFile(path("whole.jpg"), jpeg));
    QVERIFY(fixtures::writeFile(path("endless.jpg"), jpeg.left(jpeg.size() - 2)));
    QVERIFY(fixtures::writeFile(path("eye64.jpg"), fixtures::jpegBytes(leftEye({64, 48}))));
    QVERIFY(fixtures::writeFile(path("scans.jpg"), fixtures::jpegWithScans(5000)));
    QByteArray damaged = fixtures::pngBytes(randomPicture({40, 30}, 6));
    damaged.replace(damaged.indexOf("IDAT") + 14, 30, QByteArray(30, '\0'));
    QVERIFY(fixtures::writeFile(path("damaged.png"), damaged));
    QVERIFY(QFile::copy(path("right.bmp"), path("cut.bmp")));
    QVERIFY(QFile::resize(path("cut.bmp"), QFileInfo(path("cut.bmp")).size() - 1));
    QByteArray tall = fixtures::readFile(path("left.bmp"));
    tall[22] = char(31); // one row more than the 30 held
    QVERIFY(fixtures::writeFile(path("tall.bmp"), tall));
    QByteArray far = fixtures::readFile(path("left.bmp"));
    far[12] = char(0x7F); // the offset of the rows, past the end of the file
    QVERIFY(fixtures::writeFile(path("far.bmp"), far));
    QVERIFY(fixtures::writeFile(path("text.jpg"), "not a picture"));
    const QByteArray eye = fixtures::jpegBytes(randomPicture({40, 30}, 7));
    QVERIFY(fixtures::writeFile(path("one.mpo"), fixtures::mpoBytes({eye}, true)));
    QVERIFY(fixtures::writeFile(
        path("uneven.mpo"),
        fixtures::mpoBytes({eye, fixtures::jpegBytes(randomPicture({40, 29}, 8))}, false)));
    QVERIFY(randomPicture({1, 30}, 9).save(path("thin.png")));
    QVERIFY(fixtures::writeFile(path("stereo.mpo"), fixtures::mpoBytes({eye, eye}, true)));
    QVERIFY(randomPicture({40, 30}, 10).save(path("cut.tif")));
    QVERIFY(QFile::resize(path("cut.tif"), QFileInfo(path("cut.tif")).size() / 2));
    QVERIFY(randomPicture({40, 30}, 11).save(path("cut.webp")));
    QVERIFY(QFile::resize(path("cut.webp"), QFileInfo(path("cut.webp")).size() / 2));
    QVERIFY(randomPicture({40, 30}, 12).save(path("small.tif")));
    const QByteArray huge = tiffDeclaring(fixtures::readFile(path("small.tif")), 20000, 20000);
    QVERIFY(!huge.isEmpty() && fixtures::writeFile(path("huge.tif"), huge));
    QVERIFY(QFile::remove(path("small.tif")));
    if (arguments.contains(u"huge.mpo")) {
        QVERIFY(fixtures::writeFile(path("huge.mpo"), fixtures::mpoBytes({eye, eye}, false)));
        QVERIFY(QFile::resize(path("huge.mpo"), qint64(3) << 29));
    }
    std::optional<ShrinkAfterFirstRead> shrink;
    if (arguments.contains(u"shrinking.bmp")) {
        // Rows enough that reading them lasts well past the moment it shrinks.
        QImage large(3000, 2000, QImage::Format_RGB32);
        large.fill(Qt::darkCyan);
        QVERIFY(large.save(path("large.bmp")));
        QVERIFY(large.save(path("shrinking.bmp")));
    }
    QVERIFY(fixtures::writeFile(path("tiny.jpg"), fixtures::jpegBytes(randomPicture({5, 3}, 9))));
    if (arguments.filter(u".heic").size() > 0) {
        const QImage eye = randomPicture({40, 30}, 13);
        const QByteArray stereo = fixtures::heicBytes({eye, eye}, {1, 2});
        QVERIFY(fixtures::writeFile(path("cut.heic"), stereo.left(stereo.size() - 10)));
        QVERIFY(fixtures::writeFile(path("missing.heic"), fixtures::heicBytes({eye, eye}, {1, 7})));
        QByteArray lying = stereo;
        lying[lying.indexOf("ster") + 12] = char(0x40); // entities: 2 + 2^30
        QVERIFY(fixtures::writeFile(path("lying.heic"), lying));
        QVERIFY(fixtures::writeFile(
            path("uneven.heic"), fixtures::heicBytes({eye, randomPicture({40, 28}, 14)}, {1, 2})));
        QByteArray damaged = fixtures::heicBytes({eye});
        damaged.replace(damaged.indexOf("mdat") + 4, 40, QByteArray(40, '\xFF'));
        QVERIFY(fixtures::writeFile(path("damaged.heic"), damaged));
        QVERIFY(fixtures::writeFile(path("plain.heic"), fixtures::heicBytes({eye, eye})));
    }
    QVERIFY(fixtures::writeFile(path("lying.lif"), fixtures::lifBytes(eye, eye, 1000009)));
    QVERIFY(fixtures::writeFile(path("previewed.jpg"),
                                eye + fixtures::jpegBytes(randomPicture({20, 15}, 15))));
    QVERIFY(fixtures::writeFile(
        path("reversed.xmp"),
        fixtures::xmpEyeBytes(eye, eye, 500, fixtures::XmpVariant::ChunksReversed)));
    QVERIFY(fixtures::writeFile(
        path("large.xmp"), fixtures::xmpEyeBytes(eye, eye, 60000, fixtures::XmpVariant::TooLarge)));
    QImage flat(96, 96, QImage::Format_RGB32);
    flat.fill(Qt::gray);
    QVERIFY(flat.save(path("flatleft.bmp")) && flat.save(path("flatright.bmp")));
    const QByteArray larger = fixtures::jpegBytes(leftEye({320, 240}));
    QVERIFY(fixtures::writeFile(path("stopped.jpg"), fixtures::scanStoppedEarly(larger, 0.5)));
    QByteArray strayed = larger;
    strayed.insert(strayed.indexOf("\xFF\xDB"), "\x01\x02\x03");
    QVERIFY(fixtures::writeFile(path("strayed.jpg"), fixtures::scanStoppedEarly(strayed, 0.5)));
    QVERIFY(fixtures::writeFile(path("claims.jpg"), fixtures::jpegDeclaring({10000, 10000})));
    QVERIFY(
        fixtures::writeFile(path("claimsp.jpg"), fixtures::jpegDeclaring({10000, 10000}, true)));
    if (arguments.contains(u"--max-megapixels")) {
        const QImage big = leftEye({1001, 1000});
        QVERIFY(big.save(path("big.bmp")));
        QVERIFY(fixtures::writeFile(path("big.jpg"), fixtures::jpegBytes(big)));
    }
    const QByteArray leftBefore = fixtures::readFile(path("left.bmp"));
    const QStringList entriesBefore = QDir(dir_->path()).entryList(QDir::Files);

    for (QString &argument : arguments) {
        if (argument.contains(u'.') && !argument.startsWith(u'-'))
            argument = path(argument);
    }
    if (arguments.contains(path("shrinking.bmp")))
        shrink.emplace(path("shrinking.bmp"));
    const ProgramRun run = runTool(arguments);
    if (shrink)
        QVERIFY(shrink->shrank());

    QCOMPARE(run.exitCode, int(code));
    // One line, the tool's own: none of a decoder's that would name no file.
    const QStringList lines = QString::fromLocal8Bit(run.err).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1);
    const QString message = lines.front();
    QVERIFY2(message.startsWith(u"duoptica-combine: "), qPrintable(message));
    QVERIFY2(message.count(u"see --help") <= 1, qPrintable(message));
    for (const QString &part : messageMentions)
        QVERIFY2(message.contains(part), qPrintable(message));
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files), entriesBefore);
    QCOMPARE(fixtures::readFile(path("left.bmp")), leftBefore);
}

void CombineToolTest::batchSkipsBadPairsAndReportsUnpairedFiles_data() {
    QTest::addColumn<bool>("withProblems");
    QTest::addColumn<QString>("format");
    QTest::newRow("all pairs good, bmp") << false << QString();
    QTest::newRow("a bad pair, an unpaired file and entries that are no files, png")
        << true << "png";
}

void CombineToolTest::batchSkipsBadPairsAndReportsUnpairedFiles() {
    QFETCH(bool, withProblems);
    QFETCH(QString, format);
    const QString extension = format.isEmpty() ? QStringLiteral("bmp") : format;
    QDir(dir_->path()).mkdir(QStringLiteral("in"));
    const QStringList names{"alpha", "Beta", "gamma"};
    for (int i = 0; i < names.size(); ++i) {
        QVERIFY(randomPicture({31, 17}, 10 + i).save(path("in/" + names[i] + "_L.bmp")));
        QVERIFY(randomPicture({31, 17}, 20 + i).save(path("in/" + names[i] + "_r.PNG")));
    }
    if (withProblems) {
        QVERIFY(randomPicture({30, 17}, 30).save(path("in/bad_L.jpg")));
        QVERIFY(randomPicture({31, 17}, 31).save(path("in/bad_R.jpg")));
        QVERIFY(randomPicture({31, 17}, 32).save(path("in/lonely_L.jpeg")));
        // Named like inputs, yet no picture files: each is reported with what it is.
        QVERIFY(::mkfifo(QFile::encodeName(path("in/pipe_L.bmp")).constData(), 0600) == 0);
        QVERIFY(randomPicture({31, 17}, 33).save(path("in/pipe_R.bmp")));
        QVERIFY(QDir(path("in")).mkdir(QStringLiteral("folder_R.gif")));
        QVERIFY(QFile::link(QStringLiteral("loop_L.bmp"), path("in/loop_L.bmp")));
    }

    QStringList arguments{"--mode", "red-green", "--batch", path("in"), path("out")};
    if (!format.isEmpty())
        arguments << QStringLiteral("--format") << format;
    const ProgramRun run = runTool(arguments);

    QCOMPARE(run.exitCode, int(withProblems ? ExitCode::BatchPartlyFailed : ExitCode::Success));
    QStringList expectedOutputs;
    for (const QString &name : names)
        expectedOutputs << name + u'.' + extension;
    QCOMPARE(QDir(path("out")).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase),
             expectedOutputs);
    for (const QString &name : names) {
        const QString difference = differenceFromRule(
            QImage(path("in/" + name + "_L.bmp")), QImage(path("in/" + name + "_r.PNG")),
            QImage(path("out/" + name + u'.' + extension)), CombineMode::RedGreen);
        QVERIFY2(difference.isEmpty(), qPrintable(name + QStringLiteral(": ") + difference));
    }

    const QString errors = QString::fromLocal8Bit(run.err);
    const QString summary = QString::fromLocal8Bit(run.out).trimmed();
    if (withProblems) {
        QCOMPARE(errors.count(u'\n'), 6);
        QVERIFY2(errors.contains("Pictures not equal size!") && errors.contains("bad_L.jpg"),
                 qPrintable(errors));
        QVERIFY2(errors.contains("lonely_L.jpeg"), qPrintable(errors));
        for (const auto &[name, what] : {std::pair{"pipe_L.bmp", "FIFO"},
                                         {"folder_R.gif", "a folder"},
                                         {"loop_L.bmp", "symbolic link"}}) {
            const QString line = path("in/") + name + ": cannot read it: ";
            QVERIFY2(errors.split(u'\n').filter(line).filter(what).size() == 1, qPrintable(errors));
        }
        QVERIFY2(errors.contains(path("in/pipe_R.bmp") + ": unpaired"), qPrintable(errors));
        QCOMPARE(summary, QStringLiteral("3 of 4 pairs combined, 1 failed, 5 files unpaired"));
    } else {
        QCOMPARE(errors, QString());
        QCOMPARE(summary, QStringLiteral("3 of 3 pairs combined"));
    }
}

// A folder of one pair under each naming, a lone picture and a pair named _0/_1: each pair
// written once, each picture left named on stderr and in the report's summary.
void CombineToolTest::batchPairsEveryNamingAndNamesWhatItLeft_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("outputDir");
    QTest::addColumn<QStringList>("left"); // the pictures no pair used
    const QStringList everyNaming{"a", "b", "c", "d", "e", "f", "g", "h", "I"};
    QTest::newRow("the common namings")
        << QStringList() << "out" << QStringList{"q_0.jpg", "q_1.jpg", "solo.png"};
    QTest::newRow("--pair-names _0,_1")
        << QStringList{"--pair-names", "_0,_1"} << "out" << QStringList{"solo.png"};
    // The rerun finds the first run's outputs beside the pairs: they are no unused pictures.
    QTest::newRow("rerun into the input folder")
        << QStringList{"--skip-existing"} << "in" << QStringList{"q_0.jpg", "q_1.jpg", "solo.png"};
}

void CombineToolTest::batchPairsEveryNamingAndNamesWhatItLeft() {
    QFETCH(QStringList, options);
    QFETCH(QString, outputDir);
    QFETCH(QStringList, left);
    QVERIFY(QDir(dir_->path()).mkdir(QStringLiteral("in")));
    const QStringList files{"a_L.jpg",    "a_R.jpg",     "b_l.png",    "b_r.png",     "c-L.jpg",
                            "c-R.JPG",    "d.L.jpeg",    "d.R.bmp",    "e_left.png",  "e_right.png",
                            "f-left.jpg", "f-RIGHT.jpg", "g.left.png", "g.right.tif", "h_L.JPG",
                            "h_R.jpeg",   "I_L.png",     "i_r.png",    "q_0.jpg",     "q_1.jpg",
                            "solo.png"};
    for (int i = 0; i < files.size(); ++i)
        QVERIFY(randomPicture({16, 12}, i).save(path("in/" + files[i])));
    const QStringList batch{"--report", path("report"), "--batch", path("in"), path(outputDir)};
    if (outputDir == u"in")
        QCOMPARE(runTool(batch.mid(2)).exitCode, 0);

    const ProgramRun run = runTool(options + batch);

    QCOMPARE(run.exitCode, 0);
    QStringList expected{"a.bmp", "b.bmp", "c.bmp", "d.bmp", "e.bmp",
                         "f.bmp", "g.bmp", "h.bmp", "I.bmp"};
    if (left.size() == 1)
        expected << "q.bmp";
    QStringList written = QDir(path(outputDir)).entryList({"*.bmp"}, QDir::Files);
    written.removeAll(QStringLiteral("d.R.bmp")); // an input
    QCOMPARE(written, expected);
    const QStringList lines = QString::fromLocal8Bit(run.err).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), left.size());
    const BatchReportLines report = readReport(path("report"));
    QVERIFY2(report.error.isEmpty(), qPrintable(report.error));
    const QJsonArray told = report.summary.value(u"unpaired_files").toArray();
    QCOMPARE(told.size(), left.size());
    QCOMPARE(report.summary.value(u"unpaired").toInt(), left.size());
    for (int i = 0; i < left.size(); ++i) {
        QVERIFY2(lines[i].contains(path("in/" + left[i]) + QStringLiteral(": unpaired: ")),
                 qPrintable(lines[i]));
        QCOMPARE(told[i].toObject().value(u"file").toString(), path("in/" + left[i]));
        QVERIFY(!told[i].toObject().value(u"reason").toString().isEmpty());
    }
    QVERIFY2(run.out.contains(QString::number(left.size()).toLatin1() + " file"),
             run.out.constData());
}

void CombineToolTest::batchWritingNoPairExitsWithItsFailuresStatus_data() {
    QTest::addColumn<bool>("fullDisk");
    QTest::addColumn<int>("goodPairs");
    QTest::addColumn<ExitCode>("code");
    QTest::newRow("full disk") << true << 2 << ExitCode::WriteFailure;
    QTest::newRow("only a pair of two sizes") << false << 0 << ExitCode::SizeMismatch;
}

void CombineToolTest::batchWritingNoPairExitsWithItsFailuresStatus() {
    QFETCH(bool, fullDisk);
    QFETCH(int, goodPairs);
    QFETCH(ExitCode, code);
    makePairs(QStringList{"a", "b"}.mid(0, goodPairs), {13, 5});
    QVERIFY(randomPicture({13, 5}, 1).save(path("in/bad_L.bmp")));
    QVERIFY(randomPicture({13, 6}, 2).save(path("in/bad_R.bmp")));
    QVERIFY(QDir(dir_->path()).mkdir(QStringLiteral("out")));

    ProgramRun run;
    {
        std::optional<FileSizeLimit> limit; // inherited by the tool: every write meets a full disk
        if (fullDisk)
            limit.emplace(1);
        run = runTool({"--batch", path("in"), path("out")});
    }

    QCOMPARE(run.exitCode, int(code));
    QCOMPARE(QDir(path("out")).entryList(QDir::Files), QStringList());
    const QStringList lines = QString::fromLocal8Bit(run.err).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), goodPairs + 1);
    QCOMPARE(lines.filter(path("out/")).size(), goodPairs);
    QCOMPARE(lines.filter(QString::fromLocal8Bit(std::strerror(EFBIG))).size(), goodPairs);
}

void CombineToolTest::batchRefusesWhatItCannotStart_data() {
    QTest::addColumn<QString>("inputDir");
    QTest::addColumn<QString>("outputDir");
    QTest::addColumn<ExitCode>("code");
    QTest::newRow("input folder missing") << "nowhere"
                                          << "out" << ExitCode::UnreadableInput;
    QTest::newRow("no pair in the input folder") << "empty"
                                                 << "out" << ExitCode::UnreadableInput;
    QTest::newRow("output folder cannot be made") << "in"
                                                  << "in/a_L.bmp/out" << ExitCode::WriteFailure;
}

void CombineToolTest::batchRefusesWhatItCannotStart() {
    QFETCH(QString, inputDir);
    QFETCH(QString, outputDir);
    QFETCH(ExitCode, code);
    QDir(dir_->path()).mkdir(QStringLiteral("in"));
    QDir(dir_->path()).mkdir(QStringLiteral("empty"));
    QVERIFY(randomPicture({8, 8}, 1).save(path("in/a_L.bmp")));
    QVERIFY(randomPicture({8, 8}, 2).save(path("in/a_R.bmp")));
    QVERIFY(randomPicture({8, 8}, 3).save(path("empty/a.bmp")));

    const ProgramRun run = runTool({QStringLiteral("--batch"), path(inputDir), path(outputDir)});

    QCOMPARE(run.exitCode, int(code));
    const QString message = QString::fromLocal8Bit(run.err).trimmed();
    QVERIFY2(message.contains(inputDir) || message.contains(outputDir), qPrintable(message));
    QVERIFY(!QDir(path("out")).exists());
}

void CombineToolTest::readsEachStereoInput_data() {
    QTest::addColumn<QString>("input"); // how the eyes are stored
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("swapped");
    QTest::addColumn<int>("orientation"); // EXIF, on each JPEG
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("tolerance");
    QTest::newRow("two files") << "pair" << QStringList{} << false << 1 << "out.png" << 0;
    QTest::newRow("two files swapped")
        << "pair" << QStringList{"--swap"} << true << 1 << "out.png" << 0;
    QTest::newRow("parallel, odd width")
        << "parallel" << QStringList{"--layout", "parallel"} << false << 1 << "out.png" << 0;
    QTest::newRow("parallel swapped") << "parallel" << QStringList{"--layout", "parallel", "--swap"}
                                      << true << 1 << "out.bmp" << 0;
    QTest::newRow("cross, odd width")
        << "cross" << QStringList{"--layout", "cross"} << false << 1 << "out.png" << 0;
    QTest::newRow("over-under, odd height")
        << "over-under" << QStringList{"--layout", "over-under"} << false << 1 << "out.png" << 0;
    QTest::newRow("jps is cross by default")
        << "jps" << QStringList{} << false << 1 << "out.png" << 12;
    QTest::newRow("mpo, told by content")
        << "mpo" << QStringList{} << false << 1 << "out.png" << 12;
    QTest::newRow("mpo swapped") << "mpo" << QStringList{"--swap"} << true << 1 << "out.png" << 12;
    QTest::newRow("two files, orientation 6, to jpg")
        << "pair" << QStringList{"--quality", "100"} << false << 6 << "out.jpg" << 16;
    QTest::newRow("mpo, orientation 6") << "mpo" << QStringList{} << false << 6 << "out.png" << 12;
    QTest::newRow("stereo heic, told by content")
        << "heic" << QStringList{} << false << 1 << "out.png" << 4;
    QTest::newRow("stereo heic swapped")
        << "heic" << QStringList{"--swap"} << true << 1 << "out.png" << 4;
    QTest::newRow("stereo heic, the group's order, not the items'")
        << "heic reversed" << QStringList{} << false << 1 << "out.png" << 4;
    QTest::newRow("leia lif, left first by xLocation")
        << "lif" << QStringList{} << false << 1 << "out.png" << 12;
    QTest::newRow("right eye in extended xmp, in chunks")
        << "xmp" << QStringList{} << false << 1 << "out.png" << 12;
    QTest::newRow("two jpegs joined without an index, a zero byte between")
        << "joined" << QStringList{} << false << 1 << "out.png" << 12;
    QTest::newRow("plain heic as the left file")
        << "plain heic" << QStringList{} << false << 1 << "out.png" << 4;
}

void CombineToolTest::readsEachStereoInput() {
    QFETCH(QString, input);
    QFETCH(QStringList, options);
    QFETCH(bool, swapped);
    QFETCH(int, orientation);
    QFETCH(QString, output);
    QFETCH(int, tolerance);
    // Stored lying on the side when the orientation turns them.
    const QSize stored = orientation == 6 ? QSize(24, 40) : QSize(40, 24);
    const QImage left = leftEye(stored);
    const QImage right = rightEye(stored);
    const auto jpeg = [&](const QImage &eye) {
        return fixtures::jpegWithOrientation(eye, orientation);
    };
    QStringList inputs;
    if (input == u"pair") {
        inputs << fixtures::makeFile(dir_->path(), "left.jpg", jpeg(left))
               << fixtures::makeFile(dir_->path(), "right.png", fixtures::pngBytes(right));
        if (orientation != 1) // both sides turned
            inputs.back() = fixtures::makeFile(dir_->path(), "right.jpg", jpeg(right));
        else
            inputs.front() = fixtures::makeFile(dir_->path(), "left.png", fixtures::pngBytes(left));
    } else if (input == u"mpo") {
        inputs << fixtures::makeFile(dir_->path(), "camera.jpg",
                                     fixtures::mpoBytes({jpeg(left), jpeg(right)}, true));
    } else if (input == u"heic") {
        inputs << fixtures::makeFile(dir_->path(), "spatial.photo",
                                     fixtures::heicBytes({left, right}, {1, 2}));
    } else if (input == u"heic reversed") {
        inputs << fixtures::makeFile(dir_->path(), "spatial.heic",
                                     fixtures::heicBytes({right, left}, {2, 1}));
    } else if (input == u"lif") {
        inputs << fixtures::makeFile(dir_->path(), "leia.jpg",
                                     fixtures::lifBytes(jpeg(left), jpeg(right)));
    } else if (input == u"joined") {
        inputs << fixtures::makeFile(dir_->path(), "joined.mpo",
                                     jpeg(left) + QByteArray(1, '\0') + jpeg(right));
    } else if (input == u"xmp") {
        inputs << fixtures::makeFile(dir_->path(), "vr.jpg",
                                     fixtures::xmpEyeBytes(jpeg(left), jpeg(right), 700));
    } else if (input == u"plain heic") {
        inputs << fixtures::makeFile(dir_->path(), "left.heic", fixtures::heicBytes({left}))
               << fixtures::makeFile(dir_->path(), "right.png", fixtures::pngBytes(right));
    } else if (input == u"jps") {
        inputs << fixtures::makeFile(dir_->path(), "stereo.JPS",
                                     fixtures::jpegBytes(bothEyes(right, left, true, 0)));
    } else {
        const QImage picture = input == u"cross" ? bothEyes(right, left, true)
                                                 : bothEyes(left, right, input == u"parallel");
        inputs << fixtures::makeFile(dir_->path(), "both.png", fixtures::pngBytes(picture));
    }

    const ProgramRun run = runTool(QStringList{QStringLiteral("--mode"), QStringLiteral("color")} +
                                   options + inputs + QStringList{path(output)});

    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QByteArray());
    const QTransform upright = QTransform().rotate(orientation == 6 ? 90 : 0);
    const QImage expected = swapped ? colorAnaglyph(right, left) : colorAnaglyph(left, right);
    QImageReader written(path(output));
    QCOMPARE(written.transformation(), QImageIOHandler::TransformationNone);
    const int difference =
        fixtures::largestChannelDifference(written.read(), expected.transformed(upright));
    QVERIFY2(difference <= tolerance, qPrintable(QString::number(difference)));
}

void CombineToolTest::batchTakesPairsAndFilesHoldingBothEyes() {
    const QSize size(30, 20);
    const QImage left = leftEye(size);
    const QImage right = rightEye(size);
    QDir(dir_->path()).mkdir(QStringLiteral("in"));
    const QString in = path(QStringLiteral("in"));
    fixtures::makeFile(in, "a_L.png", fixtures::pngBytes(left));
    fixtures::makeFile(in, "a_R.png", fixtures::pngBytes(right));
    const QByteArray mpo =
        fixtures::mpoBytes({fixtures::jpegBytes(left), fixtures::jpegBytes(right)}, false);
    fixtures::makeFile(in, "b.MPO", mpo);
    fixtures::makeFile(in, "c.jps", fixtures::jpegBytes(bothEyes(right, left, true, 0)));
    fixtures::makeFile(in, "e.heic", fixtures::heicBytes({left, right}, {1, 2}));
    const QByteArray leftJpeg = fixtures::jpegBytes(left);
    const QByteArray rightJpeg = fixtures::jpegBytes(right);
    fixtures::makeFile(in, "f.jpg", fixtures::lifBytes(leftJpeg, rightJpeg));
    fixtures::makeFile(in, "g.jpg", fixtures::xmpEyeBytes(leftJpeg, rightJpeg, 700));
    fixtures::makeFile(in, "h.jpg",
                       fixtures::xmpEyeBytes(leftJpeg, rightJpeg, 700,
                                             fixtures::XmpVariant::DepthPhoto));
    // Both would be written as d.png.
    fixtures::makeFile(in, "d.mpo", mpo);
    fixtures::makeFile(in, "D.jps", fixtures::jpegBytes(bothEyes(right, left, true, 0)));

    const ProgramRun run = runTool({QStringLiteral("--mode"), QStringLiteral("color"),
                                    QStringLiteral("--format"), QStringLiteral("png"),
                                    QStringLiteral("--batch"), in, path(QStringLiteral("out"))});

    QCOMPARE(run.exitCode, int(ExitCode::BatchPartlyFailed));
    QCOMPARE(QDir(path("out")).entryList(QDir::Files),
             (QStringList{"a.png", "b.png", "c.png", "e.png", "f.png", "g.png"}));
    const QImage expected = colorAnaglyph(left, right);
    for (const auto &[name, tolerance] : {std::pair{"a.png", 0}, {"b.png", 12}, {"c.png", 12},
                                          {"e.png", 4}, {"f.png", 12}, {"g.png", 12}}) {
        const int difference =
            fixtures::largestChannelDifference(QImage(path("out/") + name), expected);
        QVERIFY2(difference <= tolerance,
                 qPrintable(name + QStringLiteral(": %1").arg(difference)));
    }
    const QStringList errors = QString::fromLocal8Bit(run.err).trimmed().split(u'\n');
    // A depth photo is one view: a picture like any other, left unpaired.
    QCOMPARE(errors.size(), 3);
    QVERIFY2(errors.filter("d.mpo").size() == 1 && errors.filter("D.jps").size() == 1 &&
                 errors.filter("h.jpg: unpaired").size() == 1,
             run.err.constData());
    QCOMPARE(QString::fromLocal8Bit(run.out).trimmed(),
             QStringLiteral("6 of 8 pairs combined, 2 failed, 1 file unpaired"));
}

void CombineToolTest::qualitySetsTheJpegOutput() {
    QVERIFY(fixtures::smoothPicture({200, 120}).save(path("left.png")));
    QVERIFY(rightEye({200, 120}).save(path("right.png")));
    QStringList sizes;
    for (const QString quality : {"10", "90", ""}) {
        QStringList arguments{path("left.png"), path("right.png"), path("out" + quality + ".jpg")};
        if (!quality.isEmpty())
            arguments = QStringList{QStringLiteral("--quality"), quality} + arguments;
        QCOMPARE(runTool(arguments).exitCode, 0);
    }
    // 90 is the default; a lower quality makes a smaller picture, after the EXIF segment the
    // file starts with (its thumbnail's room is the same at any quality).
    QCOMPARE(fixtures::readFile(path("out.jpg")), fixtures::readFile(path("out90.jpg")));
    const auto pictureBytes = [&](const char *name) {
        const QByteArray jpeg = fixtures::readFile(path(name));
        return jpeg.size() - 4 - (quint8(jpeg[4]) << 8 | quint8(jpeg[5]));
    };
    QVERIFY(pictureBytes("out10.jpg") < pictureBytes("out90.jpg") / 2);
}

void CombineToolTest::deflateStreamsJoinedInflateAsOne_data() {
    // Where the first stream's end-of-block code leaves off in its last byte: with 3 bits to
    // spare the empty stored block's header fits in the same byte.
    QTest::addColumn<int>("unusedBits");
    for (int bits = 0; bits < 8; ++bits)
        QTest::newRow(qPrintable(QStringLiteral("%1 unused bits in the last byte").arg(bits)))
            << bits;
}

void CombineToolTest::deflateStreamsJoinedInflateAsOne() {
    QFETCH(int, unusedBits);
    const auto deflated = [](const QByteArray &bytes) {
        z_stream deflater{};
        std::vector<unsigned char> stream(std::size_t(compressBound(uLong(bytes.size()))) + 16);
        if (deflateInit2(&deflater, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            return std::vector<unsigned char>();
        deflater.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.constData()));
        deflater.avail_in = uInt(bytes.size());
        deflater.next_out = stream.data();
        deflater.avail_out = uInt(stream.size());
        const int status = deflate(&deflater, Z_FINISH);
        stream.resize(status == Z_STREAM_END ? deflater.total_out : 0);
        deflateEnd(&deflater);
        return stream;
    };
    // Inflates a raw stream whole; unusedBitsLeft gets what zlib says the final block leaves
    // unused of its last byte.
    const auto inflated = [](const std::vector<unsigned char> &stream, int *unusedBitsLeft) {
        z_stream inflater{};
        if (inflateInit2(&inflater, -15) != Z_OK)
            return QByteArray();
        inflater.next_in = const_cast<Bytef *>(stream.data());
        inflater.avail_in = uInt(stream.size());
        QByteArray out;
        std::array<char, 4096> chunk{};
        int status = Z_OK;
        while (status == Z_OK) {
            inflater.next_out = reinterpret_cast<Bytef *>(chunk.data());
            inflater.avail_out = uInt(chunk.size());
            status = inflate(&inflater, Z_BLOCK);
            out.append(chunk.data(), qsizetype(chunk.size() - inflater.avail_out));
            // Right after the final block: the bits left before inflate skips to the byte's end.
            if ((inflater.data_type & (128 | 64)) == (128 | 64))
                *unusedBitsLeft = inflater.data_type & 7;
        }
        const bool whole = status == Z_STREAM_END && inflater.avail_in == 0;
        inflateEnd(&inflater);
        return whole ? out : QByteArray();
    };
    // Short runs of distinct bytes above 143, each 9 bits in a fixed-code block: one of the first
    // eight ends as the row asks.
    QByteArray first;
    std::vector<unsigned char> stream;
    for (int i = 1; i <= 8 && first.isEmpty(); ++i) {
        QByteArray text("band ");
        for (int k = 0; k < i; ++k)
            text += char(0x90 + k);
        stream = deflated(text);
        int left = -1;
        QCOMPARE(inflated(stream, &left), text);
        if (left == unusedBits)
            first = text;
    }
    QVERIFY2(!first.isEmpty(), "no small text gives such a stream");
    const QByteArray second("and the band after it, deflated apart");

    QVERIFY(duoptica::makeDeflateJoinable(stream));
    const std::vector<unsigned char> next = deflated(second);
    stream.insert(stream.end(), next.begin(), next.end());
    int left = -1;
    QCOMPARE(inflated(stream, &left), first + second);
}

void CombineToolTest::writesPngOfThePicturesPixels_data() {
    // Noise, smooth colours, or a photograph's mild noise above smooth colours: each deflates best
    // another way (stored, with matches, as runs), and the last joins bands of two kinds.
    QTest::addColumn<QSize>("size");
    QTest::addColumn<PngContent>("content");
    QTest::addColumn<QStringList>("options");
    QTest::newRow("one pixel") << QSize(1, 1) << PngContent::Noise << QStringList();
    // A band is a megabyte of rows: these make several, deflated apart and joined.
    QTest::newRow("noisy, several bands")
        << QSize(1001, 1203) << PngContent::Noise << QStringList();
    QTest::newRow("smooth, several bands, dubois-red-cyan")
        << QSize(997, 1301) << PngContent::Smooth << QStringList{"--mode", "dubois-red-cyan"};
    QTest::newRow("photograph above smooth colours, several bands")
        << QSize(1003, 2011) << PngContent::PhotographAboveSmooth << QStringList();
}

void CombineToolTest::writesPngOfThePicturesPixels() {
    QFETCH(QSize, size);
    QFETCH(PngContent, content);
    QFETCH(QStringList, options);
    const auto eye = [&](unsigned seed) {
        switch (content) {
        case PngContent::Noise:
            return randomPicture(size, seed);
        case PngContent::Smooth:
            return seed == 41 ? leftEye(size) : rightEye(size);
        case PngContent::PhotographAboveSmooth:
            return photographAboveSmooth(size, seed);
        }
        return QImage();
    };
    const QImage left = withResolution(eye(41), 3000);
    const QImage right = eye(42);
    QVERIFY(left.save(path("left.png")));
    QVERIFY(right.save(path("right.png")));
    // A BMP keeps every pixel as it is: the reference.
    for (const QString output : {"out.png", "out.bmp"})
        QCOMPARE(runTool(options + QStringList{path("left.png"), path("right.png"), path(output)})
                     .exitCode,
                 0);
    const QImage expected(path("out.bmp"));
    const QImage written(path("out.png"));
    QCOMPARE(written.convertToFormat(QImage::Format_RGB32), expected);
    QCOMPARE(written.dotsPerMeterX(), 3000);
    QCOMPARE(written.dotsPerMeterY(), 3001);

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    QVERIFY(png_image_begin_read_from_file(&image, QFile::encodeName(path("out.png")).constData()));
    image.format = PNG_FORMAT_BGRA;
    QImage decoded(int(image.width), int(image.height), QImage::Format_ARGB32);
    QVERIFY(png_image_finish_read(&image, nullptr, decoded.bits(), int(decoded.bytesPerLine()),
                                  nullptr));
    QCOMPARE(decoded.convertToFormat(QImage::Format_RGB32), expected);
}

void CombineToolTest::streamsJpegPairsIntoTheWholePicturesBytes_data() {
    using duoptica::AnaglyphMethod;
    QTest::addColumn<QByteArray>("left");
    QTest::addColumn<QByteArray>("right");
    QTest::addColumn<int>("method");
    QTest::addColumn<bool>("swap");
    QTest::addColumn<int>("quality");
    QTest::addColumn<QByteArray>("format");
    // How the eyes are stored: "pair" (left and right), "mpo" (both in an MPO), or one picture
    // holding both (left): "parallel", "cross", "over-under" or "jps".
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("streamed");
    // The eyes put side by side as they are (--to parallel), every pixel of both kept, instead
    // of combined.
    QTest::addColumn<bool>("packed");
    // Odd sizes, more rows than a band, and the resolution kept from the left eye.
    const QSize size(613, 97);
    const QImage left = withResolution(randomPicture(size, 21), 3937);  // 100 dpi
    const QImage right = withResolution(randomPicture(size, 22), 4000); // 40 per cm
    const QByteArray leftJpeg = fixtures::jpegBytes(left);
    const QByteArray rightJpeg = fixtures::jpegBytes(right);
    QTest::newRow("4:2:0 pair, normal")
        << leftJpeg << rightJpeg << int(AnaglyphMethod::Normal) << false << 90 << QByteArray("jpg")
        << "pair" << true << false;
    QTest::newRow("progressive with 4:4:4, swapped, red-blue")
        << fixtures::jpegBytes(left, true)
        << magickJpeg(right, {"-sampling-factor", "1x1", "-quality", "95"})
        << int(AnaglyphMethod::RedBlue) << true << 75 << QByteArray("jpg") << "pair" << true
        << false;
    QTest::newRow("grey with 4:2:2 and no resolution, dubois-red-cyan")
        << withoutJfif(fixtures::jpegBytes(left.convertToFormat(QImage::Format_Grayscale8)))
        << magickJpeg(right, {"-sampling-factor", "2x1"}) << int(AnaglyphMethod::DuboisRedCyan)
        << false << 100 << QByteArray("jpg") << "pair" << true << false;
    QTest::newRow("EXIF orientation 1, half-color")
        << fixtures::jpegWithOrientation(left, 1) << fixtures::jpegWithOrientation(right, 1)
        << int(AnaglyphMethod::HalfColor) << false << 1 << QByteArray("jpg") << "pair" << true
        << false;
    QTest::newRow("a comment on the right eye only")
        << leftJpeg << fixtures::withSegment(rightJpeg, fixtures::segment('\xFE', "taken: 1921"))
        << int(AnaglyphMethod::Gray) << false << 90 << QByteArray("jpg") << "pair" << true << false;
    QTest::newRow("an MPO, swapped, color")
        << leftJpeg << rightJpeg << int(AnaglyphMethod::Color) << true << 90 << QByteArray("jpg")
        << "mpo" << true << false;
    QTest::newRow("4:2:0 pair into a BMP")
        << leftJpeg << rightJpeg << int(AnaglyphMethod::RedGreen) << false << 90
        << QByteArray("bmp") << "pair" << true << false;
    QTest::newRow("4:2:0 pair into a PNG")
        << leftJpeg << rightJpeg << int(AnaglyphMethod::DuboisRedCyan) << false << 90
        << QByteArray("png") << "pair" << true << false;
    QTest::newRow("an MPO side by side into a PNG")
        << leftJpeg << rightJpeg << int(AnaglyphMethod::Normal) << true << 90 << QByteArray("png")
        << "mpo" << true << true;
    // Qt's PNG writer would keep the comment as text: whole pictures.
    QTest::newRow("a comment on the left eye, into a PNG")
        << fixtures::withSegment(leftJpeg, fixtures::segment('\xFE', "taken: 1921")) << rightJpeg
        << int(AnaglyphMethod::Normal) << false << 90 << QByteArray("png") << "pair" << false
        << false;
    // Qt's BMP writer keeps no comment.
    QTest::newRow("a comment on the left eye, into a BMP")
        << fixtures::withSegment(leftJpeg, fixtures::segment('\xFE', "taken: 1921")) << rightJpeg
        << int(AnaglyphMethod::Normal) << false << 90 << QByteArray("bmp") << "pair" << true
        << false;
    // An odd width or height leaves a column or row that belongs to neither eye.
    QTest::newRow("side by side, odd width, dubois-green-magenta")
        << fixtures::jpegBytes(bothEyes(left, right, true)) << QByteArray()
        << int(AnaglyphMethod::DuboisGreenMagenta) << false << 90 << QByteArray("jpg") << "parallel"
        << true << false;
    QTest::newRow("cross, swapped, into a BMP")
        << fixtures::jpegBytes(bothEyes(right, left, true, 0)) << QByteArray()
        << int(AnaglyphMethod::Normal) << true << 90 << QByteArray("bmp") << "cross" << true
        << false;
    QTest::newRow("over-under, odd height, progressive, true")
        << fixtures::jpegBytes(bothEyes(left, right, false), true) << QByteArray()
        << int(AnaglyphMethod::True) << false << 90 << QByteArray("jpg") << "over-under" << true
        << false;
    QTest::newRow("over-under, swapped, into a BMP")
        << fixtures::jpegBytes(bothEyes(left, right, false, 0)) << QByteArray()
        << int(AnaglyphMethod::RedBlue) << true << 90 << QByteArray("bmp") << "over-under" << true
        << false;
    QTest::newRow("jps, color") << fixtures::jpegBytes(bothEyes(right, left, true, 0))
                                << QByteArray() << int(AnaglyphMethod::Color) << false << 90
                                << QByteArray("jpg") << "jps" << true << false;
    // Side by side, each eye as the whole decode gives it, in each chroma layout, the eyes
    // meeting inside an iMCU (613 columns) or on its edge (48): a decoder cropped to one half
    // (jpeg_crop_scanline) smooths 4:2:2 and 4:2:0 chroma at the crop's edges as at the
    // picture's. Into a BMP of both eyes as they are, so that every pixel shows.
    const QImage inside = bothEyes(left, right, true);
    const QImage atEdge =
        bothEyes(left.copy(0, 0, 48, size.height()), right.copy(0, 0, 48, size.height()), true, 0);
    const QImage atEdgeOdd =
        bothEyes(left.copy(0, 0, 48, size.height()), right.copy(0, 0, 48, size.height()), true);
    const auto sideBySideRow = [](const char *name, const QByteArray &jpeg, const char *stored) {
        QTest::newRow(name) << jpeg << QByteArray() << int(duoptica::AnaglyphMethod::Normal)
                            << false << 90 << QByteArray("bmp") << stored << true << true;
    };
    sideBySideRow("side by side, 4:4:4, eyes meet inside an iMCU",
                  magickJpeg(inside, {"-sampling-factor", "1x1"}), "parallel");
    sideBySideRow("side by side, 4:2:2, eyes meet inside an iMCU",
                  magickJpeg(inside, {"-sampling-factor", "2x1"}), "parallel");
    sideBySideRow("side by side, 4:2:0 by Qt, eyes meet inside an iMCU",
                  fixtures::jpegBytes(inside), "parallel");
    sideBySideRow("side by side, 4:4:0, eyes meet inside an iMCU, cross",
                  magickJpeg(inside, {"-sampling-factor", "1x2"}), "cross");
    sideBySideRow("side by side, 4:2:2, eyes meet at an iMCU edge",
                  magickJpeg(atEdge, {"-sampling-factor", "2x1"}), "parallel");
    sideBySideRow("side by side, 4:2:0 by Qt, eyes meet at an iMCU edge, odd width",
                  fixtures::jpegBytes(atEdgeOdd), "jps");
    sideBySideRow("side by side, grey, eyes meet inside an iMCU",
                  fixtures::jpegBytes(inside.convertToFormat(QImage::Format_Grayscale8)),
                  "parallel");
    sideBySideRow("progressive 4:2:2 side by side",
                  magickJpeg(inside, {"-sampling-factor", "2x1", "-interlace", "JPEG"}),
                  "parallel");
    QTest::newRow("an MPO given a side-by-side layout")
        << fixtures::mpoBytes({leftJpeg, rightJpeg}, false) << QByteArray()
        << int(AnaglyphMethod::Normal) << false << 90 << QByteArray("jpg") << "parallel" << false
        << false;
    // Qt's reader turns the picture, or hands the comment on to the output: the general path.
    QTest::newRow("EXIF orientation 6 on both")
        << fixtures::jpegWithOrientation(left, 6) << fixtures::jpegWithOrientation(right, 6)
        << int(AnaglyphMethod::Normal) << false << 90 << QByteArray("jpg") << "pair" << false
        << false;
    QTest::newRow("a comment on the left eye")
        << fixtures::withSegment(leftJpeg, fixtures::segment('\xFE', "taken: 1921")) << rightJpeg
        << int(AnaglyphMethod::Normal) << false << 90 << QByteArray("jpg") << "pair" << false
        << false;
}

void CombineToolTest::streamsJpegPairsIntoTheWholePicturesBytes() {
    QFETCH(QByteArray, left);
    QFETCH(QByteArray, right);
    QFETCH(int, method);
    QFETCH(bool, swap);
    QFETCH(int, quality);
    QFETCH(QByteArray, format);
    QFETCH(QString, stored);
    QFETCH(bool, streamed);
    QFETCH(bool, packed);
    const bool twoEyes = stored == u"pair" || stored == u"mpo";
    QVERIFY(!left.isEmpty() && (!right.isEmpty() || !twoEyes));
    QVERIFY(fixtures::writeFile(path("left.jpg"), left));
    QVERIFY(fixtures::writeFile(path("right.jpg"), right));
    QVERIFY(fixtures::writeFile(path("pair.mpo"), fixtures::mpoBytes({left, right}, false)));
    QVERIFY(fixtures::writeFile(path("both.jps"), left));
    duoptica::PairJob job{.leftFile = path("left.jpg"),
                          .rightFile = path("right.jpg"),
                          .outputFile = path("whole." + format),
                          .settings = {.mode = duoptica::AnaglyphMethod(method),
                                       .format = duoptica::outputFormatNamed(format)->file,
                                       .swap = swap,
                                       .jpegQuality = quality}};
    if (packed)
        job.settings.to = duoptica::StereoOutput::Parallel;
    using duoptica::StereoLayout;
    if (!twoEyes || stored == u"mpo") {
        job.leftFile = path(stored == u"mpo"   ? "pair.mpo"
                            : stored == u"jps" ? "both.jps"
                                               : "left.jpg");
        job.rightFile.clear();
        job.layout = stored == u"parallel"     ? StereoLayout::Parallel
                     : stored == u"cross"      ? StereoLayout::Cross
                     : stored == u"over-under" ? StereoLayout::OverUnder
                                               : StereoLayout::FromFile;
    }
    if (!streamed) {
        for (const duoptica::Threads threads : {duoptica::Threads::All, duoptica::Threads::One})
            QVERIFY(!runOnPath(duoptica::PairPath::JpegStreamed, job, threads));
        return;
    }
    // A pair's reference is decoded and combined on its own; a single picture's is the general
    // path's, which cuts it in two.
    if (stored == u"pair") {
        QCOMPARE(writeWholePictureOutput(job), QString());
    } else {
        const duoptica::Outcome whole = duoptica::combineWholePictures(job, duoptica::Threads::One);
        QCOMPARE(whole.message, QString());
    }
    const QByteArray expected = fixtures::readFile(path("whole." + format));
    QVERIFY(!expected.isEmpty());

    for (const duoptica::Threads threads : {duoptica::Threads::All, duoptica::Threads::One}) {
        job.outputFile = path("streamed." + format);
        const std::optional<duoptica::Outcome> outcome =
            runOnPath(duoptica::PairPath::JpegStreamed, job, threads);
        QVERIFY(outcome.has_value());
        QCOMPARE(int(outcome->code), int(ExitCode::Success));
        QCOMPARE(fixtures::readFile(path("streamed." + format)), expected);
    }
}

void CombineToolTest::batchOfMixedFormatsWritesTheWholePicturesJpegs() {
    const QSize size(45, 70);
    const QImage left = randomPicture(size, 31);
    const QImage right = randomPicture(size, 32);
    QDir(dir_->path()).mkdir(QStringLiteral("in"));
    const QString in = path(QStringLiteral("in"));
    // Each pair takes another way through the tool: the direct BMP path is not for JPEG output,
    // JPEGs and the MPO are streamed, and a PNG goes through whole pictures.
    fixtures::makeFile(in, "bmp_L.bmp", fixtures::bmpBytes(left, fixtures::BmpLayout::Rgb24));
    fixtures::makeFile(in, "bmp_R.bmp", fixtures::bmpBytes(right, fixtures::BmpLayout::Rgb32));
    fixtures::makeFile(in, "jpeg_L.jpg", fixtures::jpegBytes(left));
    fixtures::makeFile(in, "jpeg_R.jpg", fixtures::jpegBytes(right));
    fixtures::makeFile(in, "mixed_L.png", fixtures::pngBytes(left));
    fixtures::makeFile(in, "mixed_R.jpg", fixtures::jpegBytes(right));
    fixtures::makeFile(
        in, "stereo.mpo",
        fixtures::mpoBytes({fixtures::jpegBytes(left), fixtures::jpegBytes(right)}, true));

    const ProgramRun run = runTool({QStringLiteral("--mode"), QStringLiteral("dubois-amber-blue"),
                                    QStringLiteral("--format"), QStringLiteral("jpg"),
                                    QStringLiteral("--batch"), in, path(QStringLiteral("out"))});

    QCOMPARE(run.exitCode, 0);
    const auto expectedFrom = [&](const QString &leftFile, const QString &rightFile) {
        const QString output = path(QStringLiteral("expected.jpg"));
        duoptica::PairJob job{.leftFile = leftFile,
                              .rightFile = rightFile,
                              .outputFile = output,
                              .settings = {.mode = duoptica::AnaglyphMethod::DuboisAmberBlue,
                                           .format = duoptica::FileFormat::Jpeg}};
        return writeWholePictureOutput(job).isEmpty() ? fixtures::readFile(output) : QByteArray();
    };
    for (const auto &[output, leftFile, rightFile] :
         {std::tuple{"bmp.jpg", "bmp_L.bmp", "bmp_R.bmp"},
          {"jpeg.jpg", "jpeg_L.jpg", "jpeg_R.jpg"},
          {"mixed.jpg", "mixed_L.png", "mixed_R.jpg"},
          {"stereo.jpg", "jpeg_L.jpg", "jpeg_R.jpg"}}) {
        const QByteArray expected = expectedFrom(in + u'/' + leftFile, in + u'/' + rightFile);
        QVERIFY(!expected.isEmpty());
        QVERIFY2(fixtures::readFile(path("out/") + output) == expected, output);
    }
}

void CombineToolTest::streamedJpegOnAFullDiskGivesTheReason() {
    QVERIFY(
        fixtures::writeFile(path("left.jpg"), fixtures::jpegBytes(randomPicture({300, 200}, 1))));
    QVERIFY(
        fixtures::writeFile(path("right.jpg"), fixtures::jpegBytes(randomPicture({300, 200}, 2))));
    ProgramRun run;
    {
        const FileSizeLimit limit(1); // inherited by the tool: every write meets a full disk
        run = runTool({path("left.jpg"), path("right.jpg"), path("out.jpg")});
    }
    QCOMPARE(run.exitCode, int(ExitCode::WriteFailure));
    const QString message = QString::fromLocal8Bit(run.err).trimmed();
    QVERIFY2(message.contains(path("out.jpg")) && !message.contains(u'\n') &&
                 message.contains(QString::fromLocal8Bit(std::strerror(EFBIG))),
             qPrintable(message));
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files), (QStringList{"left.jpg", "right.jpg"}));
}

void CombineToolTest::makePairs(const QStringList &names, QSize size) {
    QDir(dir_->path()).mkdir(QStringLiteral("in"));
    for (int i = 0; i < names.size(); ++i) {
        QVERIFY(randomPicture(size, 100 + i).save(path("in/" + names[i] + "_L.bmp")));
        QVERIFY(randomPicture(size, 200 + i).save(path("in/" + names[i] + "_R.png")));
    }
}

void CombineToolTest::shardsTogetherWriteEveryPairOnce_data() {
    QTest::addColumn<int>("shards");
    QTest::addColumn<QString>("scheduler");
    QTest::newRow("one shard given as K/N") << 1 << "command line";
    QTest::newRow("three shards of a Slurm array numbered from 1") << 3 << "slurm";
    QTest::newRow("seven Kubernetes indexes over five pairs") << 7 << "kubernetes";
}

void CombineToolTest::shardsTogetherWriteEveryPairOnce() {
    QFETCH(int, shards);
    QFETCH(QString, scheduler);
    const QStringList names{"a", "b", "c", "d", "e"};
    makePairs(names, {23, 11});

    // All shards at once over the same folders, as a scheduler starts them.
    std::vector<std::unique_ptr<QProcess>> runs;
    for (int shard = 0; shard < shards; ++shard) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        QString shardValue = QStringLiteral("%1/%2").arg(shard).arg(shards);
        if (scheduler == u"slurm") {
            shardValue = QStringLiteral("auto");
            environment.insert(QStringLiteral("SLURM_ARRAY_TASK_ID"), QString::number(shard + 1));
            environment.insert(QStringLiteral("SLURM_ARRAY_TASK_MIN"), QStringLiteral("1"));
            environment.insert(QStringLiteral("SLURM_ARRAY_TASK_COUNT"), QString::number(shards));
        } else if (scheduler == u"kubernetes") {
            shardValue = QStringLiteral("auto");
            environment.insert(QStringLiteral("JOB_COMPLETION_INDEX"), QString::number(shard));
            environment.insert(QStringLiteral("DUOPTICA_SHARD_COUNT"), QString::number(shards));
        }
        auto &run = runs.emplace_back(std::make_unique<QProcess>());
        run->setProcessEnvironment(environment);
        run->start(QStringLiteral(DUOPTICA_COMBINE),
                   {"--mode", "normal", "--shard", shardValue, "--report",
                    path(QStringLiteral("report%1").arg(shard)), "--batch", path("in"),
                    path("out")});
    }

    QStringList written;
    for (int shard = 0; shard < shards; ++shard) {
        QVERIFY(runs[shard]->waitForFinished(60000));
        QCOMPARE(runs[shard]->exitCode(), 0);
        const BatchReportLines report = readReport(path(QStringLiteral("report%1").arg(shard)));
        QVERIFY2(report.error.isEmpty(), qPrintable(report.error));
        QCOMPARE(report.summary.value(u"shard").toString(),
                 QStringLiteral("%1/%2").arg(shard).arg(shards));
        QCOMPARE(report.summary.value(u"combined").toInt(), report.pairs.size());
        written << outputsWithStatus(report, QStringLiteral("combined"));
    }
    written.sort();
    QStringList expected;
    for (const QString &name : names)
        expected << name + QStringLiteral(".bmp");
    QCOMPARE(written, expected);
    QCOMPARE(QDir(path("out")).entryList(QDir::Files), expected);
    for (const QString &name : names) {
        const QString difference = differenceFromRule(
            QImage(path("in/" + name + "_L.bmp")), QImage(path("in/" + name + "_R.png")),
            QImage(path("out/" + name + ".bmp")), CombineMode::Normal);
        QVERIFY2(difference.isEmpty(), qPrintable(name + QStringLiteral(": ") + difference));
    }
}

void CombineToolTest::batchRefusesABadShardNamingTheVariable_data() {
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QString>("shard");
    QTest::addColumn<QString>("variable");
    QTest::newRow("Slurm task id not a number")
        << QStringList{"SLURM_ARRAY_TASK_ID=x", "SLURM_ARRAY_TASK_MIN=0",
                       "SLURM_ARRAY_TASK_COUNT=2"}
        << "auto"
        << "SLURM_ARRAY_TASK_ID";
    QTest::newRow("Kubernetes index past the count")
        << QStringList{"JOB_COMPLETION_INDEX=4"} << "auto/4"
        << "JOB_COMPLETION_INDEX";
}

void CombineToolTest::batchRefusesABadShardNamingTheVariable() {
    QFETCH(QStringList, environment);
    QFETCH(QString, shard);
    QFETCH(QString, variable);
    makePairs({"a"}, {4, 4});
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    for (const QString &setting : environment)
        variables.insert(setting.section(u'=', 0, 0), setting.section(u'=', 1));

    const ProgramRun run =
        runProgram(QStringLiteral(DUOPTICA_COMBINE),
                   {"--shard", shard, "--batch", path("in"), path("out")}, variables);

    QCOMPARE(run.exitCode, int(ExitCode::Usage));
    QVERIFY2(run.err.contains(variable.toLatin1()), run.err.constData());
    QCOMPARE(run.err.count('\n'), 1);
    QVERIFY(!QDir(path("out")).exists());
}

void CombineToolTest::killedBatchIsFinishedByARerunWithSkipExisting() {
    const QStringList small{"a", "b", "c", "d", "e", "f"};
    makePairs(small, {300, 200});
    // Two large pairs sorted last keep the run busy long enough to be killed midway.
    QImage large(4000, 3000, QImage::Format_RGB32);
    for (const QString &name : {QStringLiteral("y"), QStringLiteral("z")}) {
        large.fill(0xFF204060);
        QVERIFY(large.save(path("in/" + name + "_L.png")));
        large.fill(0xFF6080A0);
        QVERIFY(large.save(path("in/" + name + "_R.png")));
    }
    large = QImage();
    const QStringList outputs{"a.bmp", "b.bmp", "c.bmp", "d.bmp",
                              "e.bmp", "f.bmp", "y.bmp", "z.bmp"};
    const QStringList arguments{"--mode",       "normal",  "--skip-existing", "--report",
                                path("report"), "--batch", path("in"),        path("out")};

    QProcess killed;
    killed.start(QStringLiteral(DUOPTICA_COMBINE), arguments);
    QVERIFY(killed.waitForStarted());
    const QDir out(path("out"));
    const QDeadlineTimer patience(60000);
    while (!killed.waitForFinished(1) && out.entryList(QDir::Files).isEmpty() &&
           !patience.hasExpired()) {
    }
    ::kill(pid_t(killed.processId()), SIGKILL);
    QVERIFY(killed.waitForFinished());
    QCOMPARE(killed.exitStatus(), QProcess::CrashExit);
    const QStringList before = out.entryList(QDir::Files);
    QVERIFY2(!before.isEmpty() && before.size() < outputs.size(), qPrintable(before.join(u' ')));
    QHash<QString, ino_t> inodesBefore;
    for (const QString &output : before)
        inodesBefore[output] = inodeOf(out.filePath(output));

    // A report of its own: the killed run's lines stay in the first one.
    QStringList rerunArguments = arguments;
    rerunArguments[rerunArguments.indexOf(path("report"))] = path("rerun-report");
    const ProgramRun rerun = runTool(rerunArguments);

    QCOMPARE(rerun.exitCode, 0);
    QCOMPARE(out.entryList(QDir::Files), outputs);
    const BatchReportLines report = readReport(path("rerun-report"));
    QVERIFY2(report.error.isEmpty(), qPrintable(report.error));
    QStringList skipped = outputsWithStatus(report, QStringLiteral("skipped"));
    QStringList combined = outputsWithStatus(report, QStringLiteral("combined"));
    skipped.sort();
    QCOMPARE(skipped, before);
    for (const QString &output : before)
        QCOMPARE(inodeOf(out.filePath(output)), inodesBefore[output]); // left as it was
    QCOMPARE(combined.size() + skipped.size(), outputs.size());
    for (int i = 0; i < small.size(); ++i) {
        const QString difference = differenceFromRule(
            QImage(path("in/" + small[i] + "_L.bmp")), QImage(path("in/" + small[i] + "_R.png")),
            QImage(out.filePath(outputs[i])), CombineMode::Normal);
        QVERIFY2(difference.isEmpty(), qPrintable(outputs[i] + QStringLiteral(": ") + difference));
    }
    for (const QString &output : {QStringLiteral("y.bmp"), QStringLiteral("z.bmp")}) {
        const QImage picture(out.filePath(output));
        QCOMPARE(picture.size(), QSize(4000, 3000));
        QCOMPARE(picture.pixel(3999, 2999), 0xFF406080u);
    }
}

void CombineToolTest::skipExistingLeavesOnePairsOutput_data() {
    QTest::addColumn<QString>("to");
    QTest::addColumn<QStringList>("existing"); // before the run, each holding "earlier"
    QTest::addColumn<bool>("written");
    QTest::newRow("an anaglyph") << "anaglyph" << QStringList{"out.png"} << false;
    QTest::newRow("both files of a pair")
        << "pair" << QStringList{"out_L.png", "out_R.png"} << false;
    QTest::newRow("one file of a pair: both written") << "pair" << QStringList{"out_L.png"} << true;
}

void CombineToolTest::skipExistingLeavesOnePairsOutput() {
    QFETCH(QString, to);
    QFETCH(QStringList, existing);
    QFETCH(bool, written);
    QVERIFY(randomPicture({20, 10}, 1).save(path("l.bmp")));
    QVERIFY(randomPicture({20, 10}, 2).save(path("r.bmp")));
    for (const QString &name : existing)
        QVERIFY(fixtures::writeFile(path(name), "earlier"));

    const ProgramRun run =
        runTool({"--skip-existing", "--to", to, path("l.bmp"), path("r.bmp"), path("out.png")});

    QCOMPARE(run.exitCode, 0);
    const QStringList lines = QString::fromLocal8Bit(run.err).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), written ? 0 : 1);
    for (const QString &name : existing) {
        QCOMPARE(fixtures::readFile(path(name)) == "earlier", !written);
        if (!written)
            QVERIFY2(lines.front().contains(path(name)), qPrintable(lines.front()));
    }
}

void CombineToolTest::removesOnlyItsOwnPairsLeftoverTemporaries_data() {
    QTest::addColumn<QString>("leftover");
    QTest::addColumn<int>("secondsOld"); // below 0: changed after the run started
    QTest::addColumn<bool>("removed");
    QTest::addColumn<bool>("pairOfFiles"); // --to pair: a_L.bmp and a_R.bmp
    QTest::newRow("its own pair's, from a killed run") << "a.bmp.QxZwPe" << 3600 << true << false;
    QTest::newRow("another shard's pair's") << "b.bmp.QxZwPe" << 3600 << false << false;
    QTest::newRow("its own pair's, written to since it started")
        << "a.bmp.QxZwPe" << -3600 << false << false;
    QTest::newRow("its own output's name with another ending")
        << "a.bmp.old" << 3600 << false << false;
    QTest::newRow("its own pair of files', from a killed run")
        << "a_R.bmp.QxZwPe" << 3600 << true << true;
}

void CombineToolTest::removesOnlyItsOwnPairsLeftoverTemporaries() {
    QFETCH(QString, leftover);
    QFETCH(int, secondsOld);
    QFETCH(bool, removed);
    QFETCH(bool, pairOfFiles);
    makePairs({"a", "b"}, {9, 7});
    QDir(dir_->path()).mkdir(QStringLiteral("out"));
    // Half a picture file, as a run killed while writing it leaves it.
    const QString leftoverFile = path("out/" + leftover);
    QVERIFY(fixtures::writeFile(leftoverFile, QByteArray("BM\x36\x01\0\0", 6)));
    QFile file(leftoverFile);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-secondsOld),
                             QFileDevice::FileModificationTime));
    file.close();

    const QStringList to =
        pairOfFiles ? QStringList{"--to", "pair"} : QStringList{"--mode", "normal"};
    const ProgramRun run = runTool(
        to + QStringList{"--shard", "0/2", "--skip-existing", "--batch", path("in"), path("out")});

    QCOMPARE(run.exitCode, 0);
    QCOMPARE(QString::fromLocal8Bit(run.out).trimmed(),
             QStringLiteral("shard 0/2: 1 of 1 pairs combined"));
    QCOMPARE(QFileInfo::exists(leftoverFile), !removed);
    if (pairOfFiles) {
        QCOMPARE(QDir(path("out")).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"a_L.bmp", "a_R.bmp"}));
        return;
    }
    const QString difference =
        differenceFromRule(QImage(path("in/a_L.bmp")), QImage(path("in/a_R.png")),
                           QImage(path("out/a.bmp")), CombineMode::Normal);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void CombineToolTest::reportCountsMatchTheExitStatus_data() {
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<ExitCode>("code");
    QTest::addColumn<int>("combined");
    QTest::addColumn<int>("skipped");
    QTest::addColumn<int>("failed");
    QTest::newRow("every pair combined") << "good" << ExitCode::Success << 3 << 0 << 0;
    QTest::newRow("a pair of two sizes fails")
        << "bad pair" << ExitCode::BatchPartlyFailed << 3 << 0 << 1;
    QTest::newRow("outputs of an earlier run skipped")
        << "rerun" << ExitCode::Success << 0 << 3 << 0;
    QTest::newRow("input folder missing") << "no input" << ExitCode::UnreadableInput << 0 << 0 << 0;
}

void CombineToolTest::reportCountsMatchTheExitStatus() {
    QFETCH(QString, scenario);
    QFETCH(ExitCode, code);
    QFETCH(int, combined);
    QFETCH(int, skipped);
    QFETCH(int, failed);
    makePairs({"a", "b", "c"}, {13, 5});
    if (scenario == u"bad pair") {
        QVERIFY(randomPicture({13, 5}, 1).save(path("in/bad_L.bmp")));
        QVERIFY(randomPicture({13, 6}, 2).save(path("in/bad_R.bmp")));
    }
    if (scenario == u"rerun")
        QCOMPARE(runTool({"--batch", path("in"), path("out")}).exitCode, 0);
    const QString input = path(scenario == u"no input" ? "nowhere" : "in");

    const ProgramRun run =
        runTool({"--skip-existing", "--report", path("report"), "--batch", input, path("out")});

    QCOMPARE(run.exitCode, int(code));
    const BatchReportLines report = readReport(path("report"));
    QVERIFY2(report.error.isEmpty(), qPrintable(report.error));
    QCOMPARE(report.summary.value(u"exit").toInt(), run.exitCode);
    QCOMPARE(report.summary.value(u"combined").toInt(), combined);
    QCOMPARE(report.summary.value(u"skipped").toInt(), skipped);
    QCOMPARE(report.summary.value(u"failed").toInt(), failed);
    QCOMPARE(outputsWithStatus(report, QStringLiteral("combined")).size(), combined);
    QCOMPARE(outputsWithStatus(report, QStringLiteral("skipped")).size(), skipped);
    QCOMPARE(outputsWithStatus(report, QStringLiteral("failed")).size(), failed);
    for (const QJsonObject &pair : report.pairs) {
        const bool pairFailed = pair.value(u"status").toString() == u"failed";
        QCOMPARE(pair.value(u"exit").toInt() != 0, pairFailed);
        QCOMPARE(pair.value(u"reason").toString().contains(u"bad_L.bmp"), pairFailed);
        QCOMPARE(pair.value(u"pixels").toInteger(), pairFailed ? 0 : 13 * 5);
        QVERIFY(pair.value(u"left").toString().endsWith(u"_L.bmp"));
        QVERIFY(pair.value(u"milliseconds").toInteger(-1) >= 0);
    }
}

void CombineToolTest::batchAlignsEachPairOrCountsItFailed() {
    QDir(dir_->path()).mkdir(QStringLiteral("in"));
    const synthetic::Scene scene({900, 600});
    QVERIFY(scene.left().save(path("in/deep_L.png")));
    QVERIFY(scene.right({1.5, 1.02, 5}).save(path("in/deep_R.png")));
    const synthetic::Scene flat({900, 600}, synthetic::Texture::Flat);
    QVERIFY(flat.left().save(path("in/flat_L.png")));
    QVERIFY(flat.right({}).save(path("in/flat_R.png")));
    // Too thin for the feature detector, which must not end the other pairs.
    QVERIFY(randomPicture({1, 30}, 1).save(path("in/thin_L.png")));
    QVERIFY(randomPicture({1, 30}, 2).save(path("in/thin_R.png")));

    const ProgramRun run = runTool({"--align", "--window", "auto", "--verbose", "--mode",
                                    "red-blue", "--batch", path("in"), path("out")});

    QCOMPARE(run.exitCode, int(ExitCode::BatchPartlyFailed));
    QCOMPARE(QString::fromLocal8Bit(run.out).trimmed(),
             QStringLiteral("1 of 3 pairs combined, 2 failed"));
    const QStringList lines = QString::fromLocal8Bit(run.err).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    const QString deep = "duoptica-combine: " + path("in/deep_R.png") + ": ";
    QCOMPARE(lines.filter(deep + "aligned with ").size(), 1);
    QCOMPARE(lines.filter(deep + "alignment details: ").size(), 1);
    // With --verbose a refusal tells how far the matching went.
    QCOMPARE(lines.filter("duoptica-combine: " + path("in/flat_R.png") + ": cannot align").size(),
             1);
    QCOMPARE(lines
                 .filter(QRegularExpression("flat_R.png: cannot align .* features on a copy "
                                            "reduced 1 times"))
                 .size(),
             1);
    QCOMPARE(lines.filter("duoptica-combine: " + path("in/thin_R.png") + ": cannot align").size(),
             1);
    QCOMPARE(QDir(path("out")).entryList(QDir::Files), QStringList{"deep.bmp"});
    // Turned 1.5 degrees and moved 5 pixels, the pair loses a margin all round.
    const QSize output = QImage(path("out/deep.bmp")).size();
    QVERIFY2(output.width() < 900 && output.height() < 590 && output.width() > 800 &&
                 output.height() > 500,
             qPrintable(QStringLiteral("%1x%2").arg(output.width()).arg(output.height())));
}

void CombineToolTest::helpListsTheExitStatuses() {
    const ProgramRun help = runTool({QStringLiteral("--help")});
    QCOMPARE(help.exitCode, 0);
    for (ExitCode code :
         {ExitCode::Success, ExitCode::Usage, ExitCode::UnreadableInput, ExitCode::SizeMismatch,
          ExitCode::WriteFailure, ExitCode::BatchPartlyFailed})
        QVERIFY2(help.out.contains("\n  " + QByteArray::number(int(code)) + "  "),
                 help.out.constData());
    QVERIFY(help.out.contains("Pictures not equal size!"));

    const ProgramRun version = runTool({QStringLiteral("--version")});
    QCOMPARE(version.exitCode, 0);
    QVERIFY2(version.out.startsWith("duoptica-combine 1."), version.out.constData());
}

void CombineToolTest::combinesTiffAndWebpPairs_data() {
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QStringList>("magickOptions");
    QTest::addColumn<int>("tolerance");
    QTest::newRow("8-bit TIFF, uncompressed")
        << "tif" << QStringList{"-depth", "8", "-compress", "none"} << 0;
    QTest::newRow("8-bit TIFF, LZW")
        << "tiff" << QStringList{"-depth", "8", "-compress", "lzw"} << 0;
    QTest::newRow("16-bit TIFF, deflate, as raw developers export it")
        << "tif" << QStringList{"-depth", "16", "-compress", "zip"} << 0;
    QTest::newRow("WebP, lossless") << "webp" << QStringList{"-define", "webp:lossless=true"} << 0;
    QTest::newRow("WebP, lossy") << "webp" << QStringList{"-quality", "90"} << 24;
}

void CombineToolTest::combinesTiffAndWebpPairs() {
    QFETCH(QString, extension);
    QFETCH(QStringList, magickOptions);
    QFETCH(int, tolerance);
    const QImage left = leftEye({40, 24});
    const QImage right = rightEye({40, 24});
    const QString leftFile = fixtures::makeFile(
        dir_->path(), "left." + extension, magickFile(left, magickOptions, "eye." + extension));
    const QString rightFile = fixtures::makeFile(
        dir_->path(), "right." + extension, magickFile(right, magickOptions, "eye." + extension));

    const ProgramRun run = runTool({"--mode", "color", leftFile, rightFile, path("out.png")});

    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QByteArray());
    const int difference =
        fixtures::largestChannelDifference(QImage(path("out.png")), colorAnaglyph(left, right));
    QVERIFY2(difference <= tolerance, qPrintable(QString::number(difference)));
}

void CombineToolTest::roundsSixteenBitChannelsToEight() {
    // Red and green of these round up (511 / 257 = 1.99, 192 / 257 = 0.75) where dropping the low
    // byte would round them down; blue rounds down.
    QImage eye(4, 2, QImage::Format_RGBX64);
    eye.fill(QColor::fromRgba64(0x01FF, 0x00C0, 0x3F7F));
    const QByteArray tiff = magickFile(eye, {"-depth", "16"}, QStringLiteral("eye.tif"));
    const QString left = fixtures::makeFile(dir_->path(), "left.tif", tiff);
    const QString right = fixtures::makeFile(dir_->path(), "right.tif", tiff);

    const ProgramRun run = runTool({"--mode", "normal", left, right, path("out.png")});

    QCOMPARE(run.exitCode, 0);
    QCOMPARE(QImage(path("out.png")).pixel(3, 1), qRgb(2, 1, 63));
}

void CombineToolTest::readsPicturesLargerThanQtAllowsByDefault() {
    // 6000 x 6000 at 32 bits is 144 MiB, over the 128 MiB Qt allows unless told otherwise.
    QImage picture(6000, 6000, QImage::Format_RGB32);
    picture.fill(0xFF102030);
    QVERIFY(picture.save(path("left.png")));
    picture.fill(0xFF305070);
    QVERIFY(picture.save(path("right.png")));
    picture = QImage();

    const ProgramRun run =
        runTool({"--mode", "normal", path("left.png"), path("right.png"), path("out.bmp")});

    QCOMPARE(run.exitCode, 0);
    QImageReader::setAllocationLimit(0);
    const QImage output(path("out.bmp"));
    QCOMPARE(output.size(), QSize(6000, 6000));
    QCOMPARE(output.pixel(0, 0), 0xFF203850u);
    QCOMPARE(output.pixel(5999, 5999), 0xFF203850u);
}

QTEST_GUILESS_MAIN(CombineToolTest)
#include "tst_combinetool.moc"
