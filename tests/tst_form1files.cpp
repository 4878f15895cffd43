// "Load &Left", "Load &Right" and "Save" in the real window, with a scripted file dialog: what
// the sources and the saved file hold, what the user is told, and the whole road from two files
// through "&Go!" to the saved result.
#include "common_dialog.h"
#include "file_size_limit.h"
#include "form1.h"
#include "modal_answerer.h"
#include "picture_file.h"
#include "picture_fixtures.h"
#include "picture_surface.h"
#include "pixel_rule.h"

#include <QDir>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

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

// What a surface of the layout's size shows with this picture loaded.
QImage shownOnSurface(const QImage &picture) {
    QImage bitmap(600, 384, QImage::Format_RGB32);
    bitmap.fill(PictureSurface::kBackground);
    for (int y = 0; y < std::min(384, picture.height()); ++y)
        for (int x = 0; x < std::min(600, picture.width()); ++x)
            bitmap.setPixel(x, y, picture.pixel(x, y));
    return bitmap;
}

duoptica::ColorValue colorValue(QRgb rgb) {
    return qRed(rgb) + 256 * qGreen(rgb) + 65536 * qBlue(rgb);
}

} // namespace

class Form1FilesTest : public QObject {
    Q_OBJECT

private slots:
    void loadButtonsFillTheirOwnSource_data();
    void loadButtonsFillTheirOwnSource();
    void cancelledOpenClearsTheSource_data();
    void cancelledOpenClearsTheSource();
    void badFileKeepsTheOldPictureAndSaysWhy_data();
    void badFileKeepsTheOldPictureAndSaysWhy();
    void saveWritesTheOutputUnderExactlyTheChosenName();
    void cancelledSaveWritesNothingAndSaysNothing();
    void failedSaveSaysWhyAndKeepsTheOldFile_data();
    void failedSaveSaysWhyAndKeepsTheOldFile();
    void loadGoSaveReloadGivesTheCombinedPictures_data();
    void loadGoSaveReloadGivesTheCombinedPictures();
    void cleanup();

private:
    QString file(const QString &name, const QByteArray &bytes);
    QTemporaryDir dir_;
};

QString Form1FilesTest::file(const QString &name, const QByteArray &bytes) {
    const QString path = dir_.filePath(name);
    if (!fixtures::writeFile(path, bytes))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void Form1FilesTest::loadButtonsFillTheirOwnSource_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("otherSource");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<int>("tolerance");
    const QImage small = fixtures::patternPicture({250, 130}, 200);
    const QImage large = fixtures::smoothPicture({1600, 1000});
    QTest::newRow("Load Left, BMP smaller than the surface")
        << "Command2"
        << "Picture1"
        << "Picture2" << fixtures::bmpBytes(small, BmpLayout::Rle8) << small << 0;
    QTest::newRow("Load Right, GIF smaller than the surface")
        << "Command3"
        << "Picture2"
        << "Picture1" << fixtures::gifBytes(small) << small << 0;
    QTest::newRow("Load Left, JPEG larger than the surface")
        << "Command2"
        << "Picture1"
        << "Picture2" << fixtures::jpegBytes(large) << large << 12;
    QTest::newRow("Load Right, progressive JPEG larger than the surface")
        << "Command3"
        << "Picture2"
        << "Picture1" << fixtures::jpegBytes(large, true) << large << 12;
}

void Form1FilesTest::loadButtonsFillTheirOwnSource() {
    QFETCH(QString, button);
    QFETCH(QString, source);
    QFETCH(QString, otherSource);
    QFETCH(QByteArray, bytes);
    QFETCH(QImage, picture);
    QFETCH(int, tolerance);
    Form1 form;
    ScriptedDialog dialog(form);
    const QString path = file(QStringLiteral("source"), bytes);
    dialog.answers << path;
    MessageBoxReader messages;

    child<QPushButton>(form, qPrintable(button))->click();

    QCOMPARE(dialog.kinds, QList<CommonDialog::Kind>{CommonDialog::Kind::Open});
    QCOMPARE(dialog.filters, QStringList{kOpenFilters});
    QCOMPARE(dialog.dialog().Filter, QStringLiteral("Supported Files|*.bmp;*.jpg;*.gif"));
    QCOMPARE(dialog.dialog().FileName, QString());
    QCOMPARE(messages.answered(), 0);
    const QImage shown = child<PictureSurface>(form, qPrintable(source))->Image();
    QVERIFY(fixtures::largestChannelDifference(shown, shownOnSurface(picture)) <= tolerance);
    QCOMPARE(child<PictureSurface>(form, qPrintable(otherSource))->Image(),
             shownOnSurface(QImage()));
}

void Form1FilesTest::cancelledOpenClearsTheSource_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("source");
    QTest::newRow("Load Left") << "Command2"
                               << "Picture1";
    QTest::newRow("Load Right") << "Command3"
                                << "Picture2";
}

void Form1FilesTest::cancelledOpenClearsTheSource() {
    QFETCH(QString, button);
    QFETCH(QString, source);
    Form1 form;
    ScriptedDialog dialog(form);
    const QImage picture = fixtures::patternPicture({100, 100}, 8);
    dialog.answers << file(QStringLiteral("first.bmp"),
                           fixtures::bmpBytes(picture, BmpLayout::Rgb24))
                   << QString();
    MessageBoxReader messages;
    auto *surface = child<PictureSurface>(form, qPrintable(source));

    child<QPushButton>(form, qPrintable(button))->click();
    QCOMPARE(surface->Image(), shownOnSurface(picture));
    child<QPushButton>(form, qPrintable(button))->click();

    QCOMPARE(surface->Image(), shownOnSurface(QImage()));
    QVERIFY(surface->Picture().isNull());
    // The second dialog started with an empty name, and the cancel left it empty.
    QCOMPARE(dialog.namesBefore, (QStringList{QString(), QString()}));
    QCOMPARE(dialog.dialog().FileName, QString());
    QCOMPARE(messages.answered(), 0);
}

void Form1FilesTest::badFileKeepsTheOldPictureAndSaysWhy_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("reason");
    for (const fixtures::BadInput &input : fixtures::makeBadInputs(dir_.path()))
        QTest::newRow(qPrintable(input.name)) << input.path << input.reason;
}

void Form1FilesTest::badFileKeepsTheOldPictureAndSaysWhy() {
    QFETCH(QString, path);
    QFETCH(QString, reason);
    Form1 form;
    ScriptedDialog dialog(form);
    const QImage picture = fixtures::patternPicture({300, 200}, 8);
    dialog.answers << file(QStringLiteral("good.bmp"),
                           fixtures::bmpBytes(picture, BmpLayout::Rgb24))
                   << path;
    MessageBoxReader messages;
    auto *left = child<PictureSurface>(form, "Picture1");

    child<QPushButton>(form, "Command2")->click();
    child<QPushButton>(form, "Command2")->click();

    QCOMPARE(left->Image(), shownOnSurface(picture));
    QCOMPARE(messages.titles, QStringList{QStringLiteral("Error")});
    QVERIFY2(messages.texts[0].contains(QDir::toNativeSeparators(path)),
             qPrintable(messages.texts[0]));
    QVERIFY2(messages.texts[0].contains(reason), qPrintable(messages.texts[0]));
    QCOMPARE(dialog.dialog().FileName, QString());
}

void Form1FilesTest::saveWritesTheOutputUnderExactlyTheChosenName() {
    Form1 form;
    ScriptedDialog dialog(form);
    auto *output = child<PictureSurface>(form, "Picture3");
    for (int i = 0; i < 384; ++i) {
        output->setPixel(i, i, 0x0000FF);
        output->setPixel(599 - i, i, 0xFF8000);
    }
    const QString path = dir_.filePath(QStringLiteral("combined"));
    dialog.answers << path;
    MessageBoxReader messages;

    child<QPushButton>(form, "Command5")->click();

    QCOMPARE(dialog.kinds, QList<CommonDialog::Kind>{CommonDialog::Kind::Save});
    QCOMPARE(dialog.filters, QStringList{kSaveFilters});
    QCOMPARE(dialog.dialog().Filter, QStringLiteral("Bitmaps (*.bmp)|*.bmp"));
    QCOMPARE(dialog.dialog().FileName, QString());
    QCOMPARE(messages.answered(), 0);
    QVERIFY(!QFile::exists(path + QStringLiteral(".bmp")));
    const duoptica::PictureLoad saved = duoptica::LoadPicture(path);
    QCOMPARE(saved.error, QString());
    QCOMPARE(saved.picture.convertToFormat(QImage::Format_RGB32), output->Image());
    QCOMPARE(quint8(fixtures::readFile(path)[28]), quint8(24));
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

void Form1FilesTest::failedSaveSaysWhyAndKeepsTheOldFile_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("diskFull");
    QTest::newRow("folder missing") << "no such folder/combined.bmp" << false;
    QTest::newRow("disk full") << "combined.bmp" << true;
}

void Form1FilesTest::failedSaveSaysWhyAndKeepsTheOldFile() {
    QFETCH(QString, name);
    QFETCH(bool, diskFull);
    Form1 form;
    ScriptedDialog dialog(form);
    const QString path = dir_.filePath(name);
    const QByteArray old("yesterday's result");
    if (diskFull)
        QVERIFY(fixtures::writeFile(path, old));
    dialog.answers << path;
    MessageBoxReader messages;
    {
        std::optional<FileSizeLimit> limit;
        if (diskFull)
            limit.emplace(4096);
        child<QPushButton>(form, "Command5")->click();
    }

    QCOMPARE(messages.titles, QStringList{QStringLiteral("Error")});
    QVERIFY2(messages.texts[0].contains(QDir::toNativeSeparators(path)),
             qPrintable(messages.texts[0]));
    QCOMPARE(QFile::exists(path), diskFull);
    if (diskFull)
        QCOMPARE(fixtures::readFile(path), old);
    QCOMPARE(dialog.dialog().FileName, QString());
}

void Form1FilesTest::loadGoSaveReloadGivesTheCombinedPictures_data() {
    QTest::addColumn<QByteArray>("leftBytes");
    QTest::addColumn<QByteArray>("rightBytes");
    QTest::addColumn<QString>("option");
    QTest::addColumn<int>("mode");
    // Lossless sources, so the saved picture can be checked against the rule pixel by pixel.
    const QImage left = fixtures::patternPicture({600, 384}, 200);
    const QImage right = fixtures::patternPicture({600, 384}, 130).mirrored(true, true);
    QTest::newRow("BMP sources, Normal")
        << fixtures::bmpBytes(left, BmpLayout::Rgb24) << fixtures::bmpBytes(right, BmpLayout::Rle8)
        << "Option1" << int(duoptica::CombineMode::Normal);
    QTest::newRow("GIF sources, Red-Blue") << fixtures::gifBytes(left) << fixtures::gifBytes(right)
                                           << "Option2" << int(duoptica::CombineMode::RedBlue);
    QTest::newRow("GIF left, BMP right, Red-Green")
        << fixtures::gifBytes(left, true) << fixtures::bmpBytes(right, BmpLayout::Palette8)
        << "Option3" << int(duoptica::CombineMode::RedGreen);
}

void Form1FilesTest::loadGoSaveReloadGivesTheCombinedPictures() {
    QFETCH(QByteArray, leftBytes);
    QFETCH(QByteArray, rightBytes);
    QFETCH(QString, option);
    QFETCH(int, mode);
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    ScriptedDialog dialog(form);
    const QString leftPath = file(QStringLiteral("left"), leftBytes);
    const QString rightPath = file(QStringLiteral("right"), rightBytes);
    const QString savedPath = dir_.filePath(QStringLiteral("result.bmp"));
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
    const QImage left = duoptica::LoadPicture(leftPath).picture;
    const QImage right = duoptica::LoadPicture(rightPath).picture;
    const duoptica::PictureLoad saved = duoptica::LoadPicture(savedPath);
    QCOMPARE(saved.error, QString());
    QCOMPARE(saved.picture.size(), QSize(600, 384));
    for (int y = 0; y < 384; ++y)
        for (int x = 0; x < 600; ++x) {
            const duoptica::ColorValue expected =
                duoptica::combinePixel(colorValue(left.pixel(x, y)), colorValue(right.pixel(x, y)),
                                       duoptica::CombineMode(mode));
            if (colorValue(saved.picture.pixel(x, y)) != expected)
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
        }
}

void Form1FilesTest::cleanup() {
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

QTEST_MAIN(Form1FilesTest)
#include "tst_form1files.moc"
