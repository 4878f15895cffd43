// duoptica-combine as a user runs it: files in, files out, messages and exit statuses.
#include "exit_code.h"
#include "picture_fixtures.h"
#include "run_program.h"
#include "synthetic_stereo.h"
#include "test_pixels.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
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
    void batchAlignsEachPairOrCountsItFailed();
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
    QTest::newRow("aligning a pair without features")
        << QStringList{"--align", "left.bmp", "right.bmp", "out.bmp"} << ExitCode::CannotAlign
        << QStringList{"right.bmp", "left.bmp", "cannot align"};
    QTest::newRow("a file short") << QStringList{"left.bmp", "right.bmp"} << ExitCode::Usage
                                  << QStringList{"--help"};
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
    const QByteArray leftBefore = fixtures::readFile(path("left.bmp"));
    const QStringList entriesBefore = QDir(dir_->path()).entryList(QDir::Files);

    for (QString &argument : arguments)
        if (!argument.startsWith(u'-'))
            argument = path(argument);
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

void CombineToolTest::batchAlignsEachPairOrCountsItFailed() {
    QDir(dir_->path()).mkdir(QStringLiteral("in"));
    const synthetic::Scene scene({900, 600});
    QVERIFY(scene.left().save(path("in/deep_L.png")));
    QVERIFY(scene.right({1.5, 1.02, 5}).save(path("in/deep_R.png")));
    QVERIFY(scene.left(false).save(path("in/flat_L.png")));
    QVERIFY(scene.right({}, false).save(path("in/flat_R.png")));

    const ProgramRun run = runTool({"--align", "--window", "auto", "--verbose", "--mode",
                                    "red-blue", "--batch", path("in"), path("out")});

    QCOMPARE(run.exitCode, int(ExitCode::BatchPartlyFailed));
    QCOMPARE(QString::fromLocal8Bit(run.out).trimmed(),
             QStringLiteral("1 of 2 pairs combined, 1 failed"));
    const QStringList lines = QString::fromLocal8Bit(run.err).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    const QString deep = "duoptica-combine: " + path("in/deep_R.png") + ": ";
    QCOMPARE(lines.filter(deep + "aligned with ").size(), 1);
    QCOMPARE(lines.filter(deep + "alignment details: ").size(), 1);
    QCOMPARE(lines.filter("duoptica-combine: " + path("in/flat_R.png") + ": cannot align").size(),
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
