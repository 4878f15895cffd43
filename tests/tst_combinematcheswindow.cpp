// For pictures of the window's size, duoptica-combine writes exactly the file the window saves
// with "Save" after "Load &Left", "Load &Right" and "&Go!" on the same two files.
#include "common_dialog.h"
#include "form1.h"
#include "picture_fixtures.h"
#include "test_pixels.h"

#include <QFile>
#include <QProcess>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

QImage randomPicture(unsigned seed) {
    RandomPixels pixels(seed);
    QImage picture(600, 384, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(x, y, pixels.next() | 0xFF000000u);
    return picture;
}

// A GIF whose first palette colour is transparent: the window shows its background there.
QByteArray gifWithTransparentColour(const QImage &picture) {
    QByteArray bytes = fixtures::gifBytes(picture);
    // After the 13-byte header and the 256-colour table comes the image; a graphic control
    // extension in front of it names palette index 0 transparent.
    const qsizetype image = 13 + 256 * 3;
    Q_ASSERT(bytes.at(image) == '\x2C');
    bytes.insert(image, QByteArrayLiteral("\x21\xF9\x04\x01\x00\x00\x00\x00"));
    return bytes;
}

QByteArray pictureFile(const QString &kind, unsigned seed) {
    if (kind == u"gif with a transparent colour")
        return gifWithTransparentColour(fixtures::patternPicture({600, 384}, 8));
    if (kind == u"jpeg")
        return fixtures::jpegBytes(fixtures::smoothPicture({600, 384}));
    return fixtures::bmpBytes(randomPicture(seed), fixtures::BmpLayout::Rgb24);
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
    QTest::addColumn<QString>("leftKind");
    QTest::newRow("Normal") << "Option1"
                            << "normal"
                            << "bmp";
    QTest::newRow("Red-Blue") << "Option2"
                              << "red-blue"
                              << "bmp";
    QTest::newRow("Red-Green") << "Option3"
                               << "red-green"
                               << "bmp";
    QTest::newRow("Red-Blue, left from a JPEG") << "Option2"
                                                << "red-blue"
                                                << "jpeg";
    QTest::newRow("Normal, left GIF with a transparent colour") << "Option1"
                                                                << "normal"
                                                                << "gif with a transparent colour";
}

void CombineMatchesWindowTest::writesWhatTheWindowSaves() {
    QFETCH(QString, option);
    QFETCH(QString, mode);
    QFETCH(QString, leftKind);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString leftFile = dir.filePath(QStringLiteral("left"));
    const QString rightFile = dir.filePath(QStringLiteral("right.bmp"));
    QVERIFY(fixtures::writeFile(leftFile, pictureFile(leftKind, 7)));
    QVERIFY(fixtures::writeFile(rightFile, pictureFile(QStringLiteral("bmp"), 8)));
    const QString windowFile = dir.filePath(QStringLiteral("window.bmp"));

    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QStringList answers{leftFile, rightFile, windowFile};
    form.findChild<CommonDialog *>(QStringLiteral("CD1"))
        ->setChooser([&](CommonDialog::Kind, const QString &, const QString &) {
            return answers.isEmpty() ? QString() : answers.takeFirst();
        });
    form.Command2_Click();
    form.Command3_Click();
    form.findChild<QRadioButton *>(option)->click();
    form.Command1_Click();
    QCOMPARE(form.windowTitle(), QStringLiteral("Done!"));
    form.Command5_Click();
    QVERIFY(answers.isEmpty());

    const QString toolFile = dir.filePath(QStringLiteral("tool.bmp"));
    QProcess tool;
    tool.start(QStringLiteral(DUOPTICA_COMBINE),
               {QStringLiteral("--mode"), mode, leftFile, rightFile, toolFile});
    QVERIFY(tool.waitForFinished(60000));
    QCOMPARE(tool.exitCode(), 0);

    const QImage windowPicture(windowFile), toolPicture(toolFile);
    QCOMPARE(windowPicture.size(), QSize(600, 384));
    QVERIFY(toolPicture == windowPicture);
    // The same BMP layout too. Only the resolution in the header may differ: the window's is its
    // screen's, the tool's the left picture's.
    QCOMPARE(fixtures::readFile(toolFile).size(), fixtures::readFile(windowFile).size());
}

QTEST_MAIN(CombineMatchesWindowTest)
#include "tst_combinematcheswindow.moc"
