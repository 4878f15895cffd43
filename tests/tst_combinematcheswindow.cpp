// For pictures of the window's size, duoptica-combine writes exactly the file the window saves
// after "&Go!" on the same two files.
#include "form1.h"
#include "picture_file.h"
#include "picture_surface.h"
#include "test_pixels.h"

#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

QImage randomPicture(QImage::Format format, unsigned seed) {
    RandomPixels pixels(seed);
    QImage picture(600, 384, format);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, pixels.next());
    return picture;
}

QByteArray fileBytes(const QString &fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class CombineMatchesWindowTest : public QObject {
    Q_OBJECT

private slots:
    void writesWhatTheWindowSaves_data();
    void writesWhatTheWindowSaves();
};

void CombineMatchesWindowTest::writesWhatTheWindowSaves_data() {
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("transparentLeft");
    QTest::newRow("Normal") << "Option1"
                            << "normal" << false;
    QTest::newRow("Red-Blue") << "Option2"
                              << "red-blue" << false;
    QTest::newRow("Red-Green") << "Option3"
                               << "red-green" << false;
    QTest::newRow("Normal, left picture partly transparent") << "Option1"
                                                             << "normal" << true;
}

void CombineMatchesWindowTest::writesWhatTheWindowSaves() {
    QFETCH(QString, option);
    QFETCH(QString, mode);
    QFETCH(bool, transparentLeft);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString leftFile = dir.filePath(transparentLeft ? "left.png" : "left.bmp");
    const QString rightFile = dir.filePath("right.png");
    QVERIFY(randomPicture(transparentLeft ? QImage::Format_ARGB32 : QImage::Format_RGB32, 5)
                .save(leftFile));
    QVERIFY(randomPicture(QImage::Format_RGB32, 6).save(rightFile));

    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const auto surface = [&](const char *name) {
        return form.findChild<PictureSurface *>(QString::fromLatin1(name));
    };
    surface("Picture1")->setPicture(duoptica::LoadPicture(leftFile).picture);
    surface("Picture2")->setPicture(duoptica::LoadPicture(rightFile).picture);
    form.findChild<QRadioButton *>(option)->click();
    form.findChild<QPushButton *>(QStringLiteral("Command1"))->click();
    QCOMPARE(form.windowTitle(), QStringLiteral("Done!"));
    const QString windowFile = dir.filePath("window.bmp");
    QCOMPARE(duoptica::SavePicture(surface("Picture3")->Image(), windowFile), QString());

    const QString toolFile = dir.filePath("tool.bmp");
    QProcess tool;
    tool.start(QStringLiteral(DUOPTICA_COMBINE),
               {QStringLiteral("--mode"), mode, leftFile, rightFile, toolFile});
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitCode(), 0);

    // The input files were written at the window's resolution, so even the headers agree.
    const QByteArray windowBytes = fileBytes(windowFile);
    QVERIFY(windowBytes.size() > 600 * 384 * 3);
    QVERIFY(fileBytes(toolFile) == windowBytes);
}

QTEST_MAIN(CombineMatchesWindowTest)
#include "tst_combinematcheswindow.moc"
