// "&Go!" in the real window: the combined output for each option button, the size-mismatch
// message box, "&Stop" pressed during a run, and closing the window in the middle of a run.
#include "form1.h"
#include "module1.h"
#include "picture_surface.h"
#include "pixel_rule.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <random>

namespace {

template <class Widget> Widget *child(const Form1 &form, const char *name) {
    auto *widget = form.findChild<Widget *>(QString::fromLatin1(name));
    Q_ASSERT(widget);
    return widget;
}

QImage randomImage(QSize size, unsigned seed) {
    std::mt19937 random(seed);
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, random() | 0xFF000000u);
    return image;
}

void loadRandomPictures(const Form1 &form) {
    child<PictureSurface>(form, "Picture1")->setPicture(randomImage({600, 384}, 11));
    child<PictureSurface>(form, "Picture2")->setPicture(randomImage({600, 384}, 12));
}

bool controlsIdle(const Form1 &form) {
    for (const char *name : {"Command1", "Command2", "Command3", "Command5"})
        if (!child<QPushButton>(form, name)->isEnabled())
            return false;
    for (const char *name : {"Option1", "Option2", "Option3"})
        if (!child<QRadioButton>(form, name)->isEnabled())
            return false;
    return !child<QPushButton>(form, "Command4")->isEnabled();
}

} // namespace

class Form1RunTest : public QObject {
    Q_OBJECT

private slots:
    void goCombinesInTheSelectedMode_data();
    void goCombinesInTheSelectedMode();
    void sizeMismatchShowsTheErrorBox();
    void stopButtonEndsTheRun();
    void closeDuringARunStopsItThenExitsWithZero_data();
    void closeDuringARunStopsItThenExitsWithZero();
    void cleanup();
};

void Form1RunTest::goCombinesInTheSelectedMode_data() {
    QTest::addColumn<QString>("option");
    QTest::addColumn<int>("mode");
    QTest::newRow("Normal") << "Option1" << int(duoptica::CombineMode::Normal);
    QTest::newRow("Red-Blue") << "Option2" << int(duoptica::CombineMode::RedBlue);
    QTest::newRow("Red-Green") << "Option3" << int(duoptica::CombineMode::RedGreen);
}

void Form1RunTest::goCombinesInTheSelectedMode() {
    QFETCH(QString, option);
    QFETCH(int, mode);
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    loadRandomPictures(form);
    child<QRadioButton>(form, qPrintable(option))->click();

    child<QPushButton>(form, "Command1")->click();

    QCOMPARE(form.windowTitle(), QStringLiteral("Done!"));
    QVERIFY(controlsIdle(form));
    auto *left = child<PictureSurface>(form, "Picture1");
    auto *right = child<PictureSurface>(form, "Picture2");
    auto *output = child<PictureSurface>(form, "Picture3");
    for (int y = 0; y < 384; ++y)
        for (int x = 0; x < 600; ++x) {
            const duoptica::ColorValue expected = duoptica::combinePixel(
                left->pixel(x, y), right->pixel(x, y), duoptica::CombineMode(mode));
            if (output->pixel(x, y) != expected)
                QFAIL(qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
        }
    // What is on screen is the bitmap after the final refresh.
    QCOMPARE(output->grab().toImage().convertToFormat(QImage::Format_RGB32), output->Image());
}

void Form1RunTest::sizeMismatchShowsTheErrorBox() {
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    child<PictureSurface>(form, "Picture2")->setHeight(300 * 15);
    auto *output = child<PictureSurface>(form, "Picture3");
    output->setPixel(0, 0, 0x00FF00);

    QString text, title, titleWhileShown;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon = QMessageBox::Critical;
    QTimer closer;
    closer.setInterval(10);
    connect(&closer, &QTimer::timeout, &form, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        text = box->text();
        title = box->windowTitle();
        buttons = box->standardButtons();
        icon = box->icon();
        titleWhileShown = form.windowTitle();
        box->button(QMessageBox::Ok)->click();
    });
    closer.start();
    form.Command1_Click();
    closer.stop();

    QCOMPARE(text, QStringLiteral("Pictures not equal size!"));
    QCOMPARE(title, QStringLiteral("Error"));
    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(icon, QMessageBox::NoIcon);
    QCOMPARE(titleWhileShown, QStringLiteral("0%"));
    QCOMPARE(form.windowTitle(), QStringLiteral("Duoptica"));
    QCOMPARE(output->pixel(0, 0), 0x404040);
    QVERIFY(controlsIdle(form));
}

void Form1RunTest::stopButtonEndsTheRun() {
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    loadRandomPictures(form);
    auto *stop = child<QPushButton>(form, "Command4");
    bool stopWasEnabled = false;
    // Runs inside the run's first yield, when "&Stop" has just been enabled. The access key
    // clicks the button with a short animation, so the run goes on for a moment.
    QMetaObject::invokeMethod(
        stop,
        [&] {
            stopWasEnabled = stop->isEnabled();
            QTest::keyClick(&form, Qt::Key_S, Qt::AltModifier);
        },
        Qt::QueuedConnection);

    form.Command1_Click();

    QVERIFY(stopWasEnabled);
    const QString title = form.windowTitle();
    QVERIFY2(QRegularExpression(QStringLiteral("^Canceled by user at [0-9]{1,2}%$"))
                 .match(title)
                 .hasMatch(),
             qPrintable(title));
    QCOMPARE(form.StopFlag, duoptica::kTrue16);
    QVERIFY(controlsIdle(form));
}

void Form1RunTest::closeDuringARunStopsItThenExitsWithZero_data() {
    QTest::addColumn<bool>("tickInTheSameYield");
    QTest::newRow("tick in a later yield") << false;
    QTest::newRow("tick in the same yield") << true;
}

void Form1RunTest::closeDuringARunStopsItThenExitsWithZero() {
    QFETCH(bool, tickInTheSameYield);
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    loadRandomPictures(form);

    QString titleAfterRun;
    QMetaObject::invokeMethod(
        &form,
        [&] {
            form.Command1_Click();
            titleAfterRun = form.windowTitle();
        },
        Qt::QueuedConnection);
    // Posted after the run started, so handled inside its first yield.
    QMetaObject::invokeMethod(
        &form,
        [&] {
            form.close();
            if (tickInTheSameYield)
                form.Timer1_Timer();
        },
        Qt::QueuedConnection);
    QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(99); });

    QCOMPARE(QApplication::exec(), 0);
    QCOMPARE(titleAfterRun, QStringLiteral("Canceled by user at 0%"));
    QVERIFY(!form.isVisible());
}

void Form1RunTest::cleanup() {
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

QTEST_MAIN(Form1RunTest)
#include "tst_form1run.moc"
