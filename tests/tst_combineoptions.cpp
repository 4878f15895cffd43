// What duoptica-combine makes of its command line.
#include "combine_options.h"

#include <QTest>

using duoptica::CombineMode;
using duoptica::ParsedCommandLine;
using Action = ParsedCommandLine::Action;
using WindowKind = duoptica::align::WindowPlacement::Kind;

Q_DECLARE_METATYPE(CombineMode)
Q_DECLARE_METATYPE(Action)
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
    void refusesWhatItCannotDo_data();
    void refusesWhatItCannotDo();
    void helpAndVersionWinOverTheRest_data();
    void helpAndVersionWinOverTheRest();
};

static QStringList commandLine(const QString &arguments) {
    return QStringList{QStringLiteral("duoptica-combine")} +
           arguments.split(u' ', Qt::SkipEmptyParts);
}

void CombineOptionsTest::understandsOnePair_data() {
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<CombineMode>("mode");
    QTest::addColumn<QByteArray>("format");
    QTest::newRow("normal by default, bmp")
        << "l.bmp r.jpg out.bmp" << CombineMode::Normal << QByteArray("bmp");
    QTest::newRow("red-blue to png")
        << "--mode red-blue l.gif r.png out.png" << CombineMode::RedBlue << QByteArray("png");
    QTest::newRow("red-green after the files, upper-case jpg")
        << "l.bmp r.bmp OUT.JPG --mode=red-green" << CombineMode::RedGreen << QByteArray("jpg");
    QTest::newRow("jpeg is jpg") << "--mode normal l.bmp r.bmp out.jpeg" << CombineMode::Normal
                                 << QByteArray("jpg");
}

void CombineOptionsTest::understandsOnePair() {
    QFETCH(QString, arguments);
    QFETCH(CombineMode, mode);
    QFETCH(QByteArray, format);
    const ParsedCommandLine parsed = duoptica::parseCommandLine(commandLine(arguments));
    QCOMPARE(parsed.action, Action::Run);
    QVERIFY(!parsed.options.batch);
    QCOMPARE(parsed.options.mode, mode);
    QCOMPARE(parsed.options.format, format);
    const QStringList files = commandLine(arguments).filter(QStringLiteral("."));
    QCOMPARE(parsed.options.leftFile, files[0]);
    QCOMPARE(parsed.options.rightFile, files[1]);
    QCOMPARE(parsed.options.outputFile, files[2]);
}

void CombineOptionsTest::understandsABatch_data() {
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<CombineMode>("mode");
    QTest::addColumn<QByteArray>("format");
    QTest::newRow("bmp by default") << "--batch in out" << CombineMode::Normal << QByteArray("bmp");
    QTest::newRow("png, red-green") << "--mode red-green --format png --batch in out"
                                    << CombineMode::RedGreen << QByteArray("png");
    QTest::newRow("jpg, flag after the folders")
        << "in out --format JPG --batch" << CombineMode::Normal << QByteArray("jpg");
}

void CombineOptionsTest::understandsABatch() {
    QFETCH(QString, arguments);
    QFETCH(CombineMode, mode);
    QFETCH(QByteArray, format);
    const ParsedCommandLine parsed = duoptica::parseCommandLine(commandLine(arguments));
    QCOMPARE(parsed.action, Action::Run);
    QVERIFY(parsed.options.batch);
    QCOMPARE(parsed.options.mode, mode);
    QCOMPARE(parsed.options.format, format);
    QCOMPARE(parsed.options.inputDir, QStringLiteral("in"));
    QCOMPARE(parsed.options.outputDir, QStringLiteral("out"));
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
    QVERIFY(parsed.options.align);
    QCOMPARE(parsed.options.align->window.kind, window);
    QCOMPARE(parsed.options.align->window.pixels, pixels);
    QCOMPARE(parsed.options.align->verbose, verbose);
}

void CombineOptionsTest::refusesWhatItCannotDo_data() {
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("errorMentions");
    const auto row = [](const char *name, const char *arguments, const char *errorMentions) {
        QTest::newRow(name) << QString::fromLatin1(arguments) << QString::fromLatin1(errorMentions);
    };
    row("nothing at all", "", "LEFT RIGHT OUTPUT");
    row("two files", "l.bmp r.bmp", "LEFT RIGHT OUTPUT");
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
    row("window without align", "--window auto l.bmp r.bmp o.bmp", "--align");
    row("verbose without align", "--verbose --batch in out", "--align");
    row("window neither auto nor pixels", "--align --window far l.bmp r.bmp o.bmp", "far");
    row("two windows", "--align --window 3 --window 4 l.bmp r.bmp o.bmp", "--window");
}

void CombineOptionsTest::refusesWhatItCannotDo() {
    QFETCH(QString, arguments);
    QFETCH(QString, errorMentions);
    const ParsedCommandLine parsed = duoptica::parseCommandLine(commandLine(arguments));
    QCOMPARE(parsed.action, Action::Fail);
    QVERIFY2(parsed.error.contains(errorMentions), qPrintable(parsed.error));
    QVERIFY(!parsed.error.contains(u'\n'));
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
