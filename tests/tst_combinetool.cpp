// duoptica-combine as a user runs it: files in, files out, messages and exit statuses.
#include "exit_code.h"
#include "picture_fixtures.h"
#include "run_program.h"
#include "test_pixels.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using duoptica::CombineMode;
using duoptica::ExitCode;

Q_DECLARE_METATYPE(CombineMode)
Q_DECLARE_METATYPE(ExitCode)

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

} // namespace

class CombineToolTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void combinesEveryPixelByTheRule_data();
    void combinesEveryPixelByTheRule();
    void showsTransparentPartsAsTheWindowDoes();
    void reportsEachFailureInOneLine_data();
    void reportsEachFailureInOneLine();
    void batchSkipsBadPairsAndReportsUnpairedFiles_data();
    void batchSkipsBadPairsAndReportsUnpairedFiles();
    void batchRefusesWhatItCannotStart_data();
    void batchRefusesWhatItCannotStart();
    void readsEachStereoInput_data();
    void readsEachStereoInput();
    void batchTakesPairsMposAndJpsFiles();
    void qualitySetsTheJpegOutput();
    void helpListsTheExitStatuses();
    void readsPicturesLargerThanQtAllowsByDefault();

private:
    QString path(const QString &name) const { return dir_->filePath(name); }
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
    QTest::newRow("default mode to bmp") << QString() << CombineMode::Normal << "out.bmp";
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

    const ProgramRun run = runTool({path("left.png"), path("right.bmp"), path("out.bmp")});

    QCOMPARE(run.exitCode, 0);
    const QImage output(path("out.bmp"));
    QCOMPARE(output.pixel(0, 0), 0xFF202020u);
    QCOMPARE(output.pixel(1, 0), 0xFF081018u);
    QCOMPARE(output.pixel(2, 0), 0xFF202020u);
    QCOMPARE(output.pixel(3, 0), 0xFF808080u);
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
    QTest::newRow("output folder missing")
        << QStringList{"left.bmp", "right.bmp", "missing/out.bmp"} << ExitCode::WriteFailure
        << QStringList{"missing/out.bmp"};
    QTest::newRow("output is the left input")
        << QStringList{"left.bmp", "right.bmp", "left.bmp"} << ExitCode::Usage
        << QStringList{"left.bmp", "overwrite"};
    QTest::newRow("one picture that is no MPO, given no layout")
        << QStringList{"left.bmp", "right.bmp"} << ExitCode::Usage
        << QStringList{"left.bmp", "--layout", "--help"};
    QTest::newRow("MPO of one image")
        << QStringList{"one.mpo", "out.bmp"} << ExitCode::UnreadableInput
        << QStringList{"one.mpo", "only one image"};
    QTest::newRow("MPO whose eyes differ in size")
        << QStringList{"uneven.mpo", "out.bmp"} << ExitCode::SizeMismatch
        << QStringList{"uneven.mpo (image 1) is 40x30", "uneven.mpo (image 2) is 40x29"};
    QTest::newRow("picture too narrow for two eyes")
        << QStringList{"--layout", "parallel", "thin.png", "out.bmp"} << ExitCode::UnreadableInput
        << QStringList{"thin.png", "too small"};
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
    QVERIFY(fixtures::writeFile(path("text.jpg"), "not a picture"));
    const QByteArray eye = fixtures::jpegBytes(randomPicture({40, 30}, 7));
    QVERIFY(fixtures::writeFile(path("one.mpo"), fixtures::mpoBytes({eye}, true)));
    QVERIFY(fixtures::writeFile(
        path("uneven.mpo"),
        fixtures::mpoBytes({eye, fixtures::jpegBytes(randomPicture({40, 29}, 8))}, false)));
    QVERIFY(randomPicture({1, 30}, 9).save(path("thin.png")));
    const QByteArray leftBefore = fixtures::readFile(path("left.bmp"));
    const QStringList entriesBefore = QDir(dir_->path()).entryList(QDir::Files);

    for (QString &argument : arguments) {
        if (argument.contains(u'.'))
            argument = path(argument);
    }
    const ProgramRun run = runTool(arguments);

    QCOMPARE(run.exitCode, int(code));
    // libpng prints a line of its own for a damaged file, past anything the tool can stop.
    const QStringList ownLines = QString::fromLocal8Bit(run.err).split(u'\n').filter(
        QRegularExpression(QStringLiteral("^duoptica-combine: ")));
    QCOMPARE(ownLines.size(), 1);
    const QString message = ownLines.front();
    for (const QString &part : messageMentions)
        QVERIFY2(message.contains(part), qPrintable(message));
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files), entriesBefore);
    QCOMPARE(fixtures::readFile(path("left.bmp")), leftBefore);
}

void CombineToolTest::batchSkipsBadPairsAndReportsUnpairedFiles_data() {
    QTest::addColumn<bool>("withProblems");
    QTest::addColumn<QString>("format");
    QTest::newRow("all pairs good, bmp") << false << QString();
    QTest::newRow("a bad pair and an unpaired file, png") << true << "png";
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
        QCOMPARE(errors.count(u'\n'), 2);
        QVERIFY2(errors.contains("Pictures not equal size!") && errors.contains("bad_L.jpg"),
                 qPrintable(errors));
        QVERIFY2(errors.contains("lonely_L.jpeg"), qPrintable(errors));
        QCOMPARE(summary, QStringLiteral("3 of 4 pairs combined, 1 failed, 1 file unpaired"));
    } else {
        QCOMPARE(errors, QString());
        QCOMPARE(summary, QStringLiteral("3 of 3 pairs combined"));
    }
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

void CombineToolTest::batchTakesPairsMposAndJpsFiles() {
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
    // Both would be written as d.png.
    fixtures::makeFile(in, "d.mpo", mpo);
    fixtures::makeFile(in, "D.jps", fixtures::jpegBytes(bothEyes(right, left, true, 0)));

    const ProgramRun run = runTool({QStringLiteral("--mode"), QStringLiteral("color"),
                                    QStringLiteral("--format"), QStringLiteral("png"),
                                    QStringLiteral("--batch"), in, path(QStringLiteral("out"))});

    QCOMPARE(run.exitCode, int(ExitCode::BatchPartlyFailed));
    QCOMPARE(QDir(path("out")).entryList(QDir::Files), (QStringList{"a.png", "b.png", "c.png"}));
    const QImage expected = colorAnaglyph(left, right);
    for (const auto &[name, tolerance] : {std::pair{"a.png", 0}, {"b.png", 12}, {"c.png", 12}}) {
        const int difference =
            fixtures::largestChannelDifference(QImage(path("out/") + name), expected);
        QVERIFY2(difference <= tolerance,
                 qPrintable(name + QStringLiteral(": %1").arg(difference)));
    }
    const QStringList errors = QString::fromLocal8Bit(run.err).trimmed().split(u'\n');
    QCOMPARE(errors.size(), 2);
    QVERIFY2(errors.filter("d.mpo").size() == 1 && errors.filter("D.jps").size() == 1,
             run.err.constData());
    QCOMPARE(QString::fromLocal8Bit(run.out).trimmed(),
             QStringLiteral("3 of 5 pairs combined, 2 failed"));
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
    // 90 is the default; a lower quality makes a smaller file.
    QCOMPARE(fixtures::readFile(path("out.jpg")), fixtures::readFile(path("out90.jpg")));
    QVERIFY(QFileInfo(path("out10.jpg")).size() < QFileInfo(path("out90.jpg")).size() / 2);
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

void CombineToolTest::readsPicturesLargerThanQtAllowsByDefault() {
    // 6000 x 6000 at 32 bits is 144 MiB, over the 128 MiB Qt allows unless told otherwise.
    QImage picture(6000, 6000, QImage::Format_RGB32);
    picture.fill(0xFF102030);
    QVERIFY(picture.save(path("left.png")));
    picture.fill(0xFF305070);
    QVERIFY(picture.save(path("right.png")));
    picture = QImage();

    const ProgramRun run = runTool({path("left.png"), path("right.png"), path("out.bmp")});

    QCOMPARE(run.exitCode, 0);
    QImageReader::setAllocationLimit(0);
    const QImage output(path("out.bmp"));
    QCOMPARE(output.size(), QSize(6000, 6000));
    QCOMPARE(output.pixel(0, 0), 0xFF203850u);
    QCOMPARE(output.pixel(5999, 5999), 0xFF203850u);
}

QTEST_GUILESS_MAIN(CombineToolTest)
#include "tst_combinetool.moc"
