// "Load &Left", "Load &Right" and "Save" in the real window, with a scripted file dialog: what
// the sources and the saved file hold, what the user is told, and the whole road from two files
// through "&Go!" to the saved result, which duoptica-combine must write the same.
#include "common_dialog.h"
#include "file_size_limit.h"
#include "form1.h"
#include "modal_answerer.h"
#include "picture_file.h"
#include "picture_fixtures.h"
#include "picture_surface.h"
#include "run_program.h"
#include "test_pixels.h"

#include <QDir>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

using fixtures::BmpLayout;

namespace {

constexpr const char *kOpenFilters = "Supported Files (*.bmp *.jpg *.gif)";
constexpr const char *kSaveFilters = "Bitmaps (*.bmp)";

template <class Widget> Widget *child(const Form1 &form, const char *name) {
    auto *widget = form.findChild<Widget *>(QString::fromLatin1(name));
    if (!widget)
        qFatal("no %s", name);
    return widget;
}

// Stands in for the file dialog: answers each ShowOpen and ShowSave with the next name queued
// (an empty name is a cancel) and notes what it was asked.
class ScriptedDialog {
public:
    explicit ScriptedDialog(const Form1 &form)
        : dialog_(child<CommonDialog>(form, "CD1")) {
        dialog_->setChooser(
            [this](CommonDialog::Kind kind, const QString &nameFilters, const QString &fileName) {
                kinds << kind;
                filters << nameFilters;
                namesBefore << fileName;
                return answers.isEmpty() ? QString() : answers.takeFirst();
            });
    }
    CommonDialog &dialog() const { return *dialog_; }

    QStringList answers;
    QList<CommonDialog::Kind> kinds;
    QStringList filters;
    QStringList namesBefore;

private:
    CommonDialog *dialog_;
};

// What a surface of the layout's size shows with this picture loaded: the background around it
// and through its transparent parts.
QImage shownOnSurface(const QImage &picture) {
    QImage bitmap(600, 384, QImage::Format_RGB32);
    bitmap.fill(PictureSurface::kBackground);
    QPainter(&bitmap).drawImage(0, 0, picture);
    return bitmap;
}

// A GIF whose first palette colour is transparent.
QByteArray gifWithTransparentColour(const QImage &picture) {
    QByteArray bytes = fixtures::gifBytes(picture);
    // After the 13-byte header and the 256-colour table comes the image; a graphic control
    // extension in front of it names palette index 0 transparent.
    const qsizetype image = 13 + 256 * 3;
    Q_ASSERT(bytes.at(image) == '\x2C');
    bytes.insert(image, QByteArrayLiteral("\x21\xF9\x04\x01\x00\x00\x00\x00"));
    return bytes;
}

} // namespace

class Form1FilesTest : public QObject {
    Q_OBJECT

private slots:
    void secondLoadClearsOrKeepsTheSource_data();
    void secondLoadClearsOrKeepsTheSource();
    void cancelledSaveWritesNothingAndSaysNothing();
    void failedSaveSaysWhyAndKeepsTheOldFile();
    void loadGoSaveGivesTheRuleAndWhatTheToolWrites_data();
    void loadGoSaveGivesTheRuleAndWhatTheToolWrites();
    void cleanup();

private:
    QTemporaryDir dir_;
};

void Form1FilesTest::secondLoadClearsOrKeepsTheSource_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("path"); // empty for a cancelled dialog
    QTest::addColumn<QString>("reason");
    QTest::newRow("Load Left, cancelled")
        << QStringLiteral("Command2") << QStringLiteral("Picture1") << QString() << QString();
    QTest::newRow("Load Right, cancelled")
        << QStringLiteral("Command3") << QStringLiteral("Picture2") << QString() << QString();
    // The picture file test goes through the whole table; the window only passes the reason on.
    const QStringList rows{"text named .jpg", "JPEG cut short", "missing file"};
    for (const fixtures::BadInput &input : fixtures::makeBadInputs(dir_.path()))
        if (rows.contains(input.name))
            QTest::newRow(qPrintable(QStringLiteral("Load Left, ") + input.name))
                << QStringLiteral("Command2") << QStringLiteral("Picture1") << input.path
                << input.reason;
}

// A cancelled dialog clears the source without a word; a file that cannot be loaded keeps the
// old picture, and one message box says which file and why.
void Form1FilesTest::secondLoadClearsOrKeepsTheSource() {
    QFETCH(QString, button);
    QFETCH(QString, source);
    QFETCH(QString, path);
    QFETCH(QString, reason);
    Form1 form;
    ScriptedDialog dialog(form);
    const QImage picture = fixtures::patternPicture({300, 200}, 8);
    dialog.answers << fixtures::makeFile(dir_.path(), "first.bmp",
                                         fixtures::bmpBytes(picture, BmpLayout::Rgb24))
                   << path;
    MessageBoxReader messages;
    auto *surface = child<PictureSurface>(form, qPrintable(source));

    child<QPushButton>(form, qPrintable(button))->click();
    QCOMPARE(surface->Image(), shownOnSurface(picture));
    child<QPushButton>(form, qPrintable(button))->click();

    // Each dialog started with an empty name, and none was left behind.
    QCOMPARE(dialog.namesBefore, (QStringList{QString(), QString()}));
    QCOMPARE(dialog.dialog().FileName, QString());
    if (path.isEmpty()) {
        QCOMPARE(surface->Image(), shownOnSurface(QImage()));
        QVERIFY(surface->Picture().isNull());
        QCOMPARE(messages.answered(), 0);
        return;
    }
    QCOMPARE(surface->Image(), shownOnSurface(picture));
    QCOMPARE(messages.titles, QStringList{QStringLiteral("Error")});
    QVERIFY2(messages.texts[0].contains(QDir::toNativeSeparators(path)),
             qPrintable(messages.texts[0]));
    QVERIFY2(messages.texts[0].contains(reason), qPrintable(messages.texts[0]));
}

void Form1FilesTest::cancelledSaveWritesNothingAndSaysNothing() {
    Form1 form;
    ScriptedDialog dialog(form);
    const QStringList before = QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    MessageBoxReader messages;

    child<QPushButton>(form, "Command5")->click();

    QCOMPARE(dialog.kinds.size(), 1);
    QCOMPARE(QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    QCOMPARE(messages.answered(), 0);
    QCOMPARE(dialog.dialog().FileName, QString());
}

// The picture file test has the other ways a save fails; the window only passes the reason on.
void Form1FilesTest::failedSaveSaysWhyAndKeepsTheOldFile() {
    Form1 form;
    ScriptedDialog dialog(form);
    const QString path = fixtures::makeFile(dir_.path(), "combined.bmp", "yesterday's result");
    dialog.answers << path;
    MessageBoxReader messages;
    {
        const FileSizeLimit diskFull(4096);
        child<QPushButton>(form, "Command5")->click();
    }

    QCOMPARE(messages.titles, QStringList{QStringLiteral("Error")});
    QVERIFY2(messages.texts[0].contains(QDir::toNativeSeparators(path)),
             qPrintable(messages.texts[0]));
    QCOMPARE(fixtures::readFile(path), QByteArray("yesterday's result"));
    QCOMPARE(dialog.dialog().FileName, QString());
}

void Form1FilesTest::loadGoSaveGivesTheRuleAndWhatTheToolWrites_data() {
    QTest::addColumn<QByteArray>("leftBytes");
    QTest::addColumn<QByteArray>("rightBytes");
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("mode");
    const QImage left = fixtures::patternPicture({600, 384}, 200);
    const QImage right = fixtures::patternPicture({600, 384}, 130).mirrored(true, true);
    const QByteArray randomBmp = fixtures::bmpBytes(randomPicture({600, 384}, 8), BmpLayout::Rgb24);
    QTest::newRow("BMP sources, Normal")
        << fixtures::bmpBytes(randomPicture({600, 384}, 7), BmpLayout::Rgb24)
        << fixtures::bmpBytes(right, BmpLayout::Rle8) << "Option1"
        << "normal";
    QTest::newRow("GIF sources, Red-Blue")
        << fixtures::gifBytes(left) << fixtures::gifBytes(right) << "Option2"
        << "red-blue";
    QTest::newRow("interlaced GIF left, 8-bit BMP right, Red-Green")
        << fixtures::gifBytes(left, true) << fixtures::bmpBytes(right, BmpLayout::Palette8)
        << "Option3"
        << "red-green";
    QTest::newRow("JPEG left, Red-Blue")
        << fixtures::jpegBytes(fixtures::smoothPicture({600, 384})) << randomBmp << "Option2"
        << "red-blue";
    QTest::newRow("GIF with a transparent colour left, Normal")
        << gifWithTransparentColour(fixtures::patternPicture({600, 384}, 8)) << randomBmp
        << "Option1"
        << "normal";
}

void Form1FilesTest::loadGoSaveGivesTheRuleAndWhatTheToolWrites() {
    QFETCH(QByteArray, leftBytes);
    QFETCH(QByteArray, rightBytes);
    QFETCH(QString, option);
    QFETCH(QString, mode);
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    ScriptedDialog dialog(form);
    const QString leftPath = fixtures::makeFile(dir_.path(), "left", leftBytes);
    const QString rightPath = fixtures::makeFile(dir_.path(), "right", rightBytes);
    // No extension: the window saves under exactly the name chosen.
    const QString savedPath = dir_.filePath(QStringLiteral("result"));
    QFile::remove(savedPath);
    dialog.answers << leftPath << rightPath << savedPath;
    MessageBoxReader messages;

    child<QPushButton>(form, "Command2")->click();
    child<QPushButton>(form, "Command3")->click();
    child<QRadioButton>(form, qPrintable(option))->click();
    child<QPushButton>(form, "Command1")->click();
    QCOMPARE(form.windowTitle(), QStringLiteral("Done!"));
    child<QPushButton>(form, "Command5")->click();

    QCOMPARE(messages.answered(), 0);
    using Kind = CommonDialog::Kind;
    QCOMPARE(dialog.kinds, (QList<Kind>{Kind::Open, Kind::Open, Kind::Save}));
    QCOMPARE(dialog.filters, (QStringList{kOpenFilters, kOpenFilters, kSaveFilters}));
    QCOMPARE(dialog.dialog().Filter, QStringLiteral("Bitmaps (*.bmp)|*.bmp"));
    QCOMPARE(dialog.dialog().FileName, QString());
    QVERIFY(!QFile::exists(savedPath + QStringLiteral(".bmp")));
    QCOMPARE(quint8(fixtures::readFile(savedPath)[28]), quint8(24));
    const duoptica::PictureLoad saved = duoptica::LoadPicture(savedPath);
    QCOMPARE(saved.error, QString());
    auto *output = child<PictureSurface>(form, "Picture3");
    QCOMPARE(saved.picture.convertToFormat(QImage::Format_RGB32), output->Image());
    // What is on screen is the bitmap after the final refresh.
    QCOMPARE(output->grab().toImage().convertToFormat(QImage::Format_RGB32), output->Image());
    const duoptica::CombineMode rule = mode == u"normal"     ? duoptica::CombineMode::Normal
                                       : mode == u"red-blue" ? duoptica::CombineMode::RedBlue
                                                             : duoptica::CombineMode::RedGreen;
    const QString difference = differenceFromRule(
        shownOnSurface(duoptica::LoadPicture(leftPath).picture),
        shownOnSurface(duoptica::LoadPicture(rightPath).picture), saved.picture, rule);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));

    const QString toolPath = dir_.filePath(QStringLiteral("tool.bmp"));
    const ProgramRun tool =
        runProgram(QStringLiteral(DUOPTICA_COMBINE),
                   {QStringLiteral("--mode"), mode, leftPath, rightPath, toolPath});
    QCOMPARE(tool.exitCode, 0);
    QVERIFY(QImage(toolPath) == QImage(savedPath));
    // The same BMP layout too. Only the resolution in the header may differ: the window's is its
    // screen's, the tool's the left picture's.
    QCOMPARE(fixtures::readFile(toolPath).size(), fixtures::readFile(savedPath).size());
}

void Form1FilesTest::cleanup() {
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

QTEST_MAIN(Form1FilesTest)
#include "tst_form1files.moc"
