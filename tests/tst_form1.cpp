// The main window's own behaviour: its starting state and focus, "&Go!" with the size-mismatch
// message box, the access keys of "&Go!" and "&Stop", and the two-stage close, idle and in the
// middle of a run.
// Whole runs with files, compared with the rule, are in the file buttons' test.
#include "form1.h"
#include "modal_answerer.h"
#include "picture_surface.h"
#include "test_pixels.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>

namespace {

template <class Widget> Widget *child(const Form1 &form, const char *name) {
    auto *widget = form.findChild<Widget *>(QString::fromLatin1(name));
    Q_ASSERT(widget);
    return widget;
}

void loadRandomPictures(const Form1 &form) {
    child<PictureSurface>(form, "Picture1")->setPicture(randomPicture({600, 384}, 11));
    child<PictureSurface>(form, "Picture2")->setPicture(randomPicture({600, 384}, 12));
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

class Form1Test : public QObject {
    Q_OBJECT

private slots:
    void startsIdleWithNormalSelected();
    void stopRaisesTheFlagOnly();
    void sizeMismatchShowsTheErrorBox();
    void focusStartsOnGoAndNeverReachesThePicture();
    void optionIndicatorsFitTheirButtons();
    void accessKeysStartAndStopTheRunAtOnce();
    void firstCloseIsRefusedAndTheTickCloses();
    void closeRequestAfterTheTimerStartedGoesThrough();
    void closeStopsAnyRunThenExitsWithZero_data();
    void closeStopsAnyRunThenExitsWithZero();
    void cleanup();
};

void Form1Test::startsIdleWithNormalSelected() {
    Form1 form;
    QCOMPARE(form.windowTitle(), QStringLiteral("Duoptica"));
    QVERIFY(child<QRadioButton>(form, "Option1")->isChecked());
    QVERIFY(!child<QRadioButton>(form, "Option2")->isChecked());
    QCOMPARE(form.StopFlag, duoptica::kFalse16);
    QVERIFY(controlsIdle(form));

    // The option buttons exclude each other.
    child<QRadioButton>(form, "Option3")->click();
    QVERIFY(!child<QRadioButton>(form, "Option1")->isChecked());
}

void Form1Test::stopRaisesTheFlagOnly() {
    Form1 form;
    form.Command4_Click();
    QCOMPARE(form.StopFlag, duoptica::kTrue16);
    QCOMPARE(form.windowTitle(), QStringLiteral("Duoptica"));
    QVERIFY(!child<QPushButton>(form, "Command4")->isEnabled());
}

void Form1Test::sizeMismatchShowsTheErrorBox() {
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    child<PictureSurface>(form, "Picture2")->setHeight(300 * 15);
    auto *output = child<PictureSurface>(form, "Picture3");
    output->setPixel(0, 0, 0x00FF00);

    QString text, title, titleWhileShown;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon = QMessageBox::Critical;
    ModalAnswerer user([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box)
            qFatal("a modal window that is not a message box");
        text = box->text();
        title = box->windowTitle();
        buttons = box->standardButtons();
        icon = box->icon();
        titleWhileShown = form.windowTitle();
        box->button(QMessageBox::Ok)->click();
    });
    form.Command1_Click();

    QCOMPARE(user.answered(), 1);
    QCOMPARE(text, QStringLiteral("Pictures not equal size!"));
    QCOMPARE(title, QStringLiteral("Error"));
    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(icon, QMessageBox::NoIcon);
    QCOMPARE(titleWhileShown, QStringLiteral("0%"));
    QCOMPARE(form.windowTitle(), QStringLiteral("Duoptica"));
    QCOMPARE(output->pixel(0, 0), 0x404040);
    QVERIFY(controlsIdle(form));
}

void Form1Test::focusStartsOnGoAndNeverReachesThePicture() {
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(QApplication::focusWidget(), child<QPushButton>(form, "Command1"));

    QStringList visited;
    for (int step = 0; step < 12; ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    QVERIFY2(!visited.contains(QStringLiteral("Picture3")), qPrintable(visited.join(u' ')));
    QVERIFY2(visited.contains(QStringLiteral("Command1")), qPrintable(visited.join(u' ')));
}

void Form1Test::optionIndicatorsFitTheirButtons() {
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    for (const char *name : {"Option1", "Option2", "Option3"}) {
        auto *option = child<QRadioButton>(form, name);
        QStyleOptionButton look;
        look.initFrom(option);
        look.text = option->text();
        const QRect indicator =
            option->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &look, option);
        QVERIFY2(option->rect().contains(indicator),
                 qPrintable(QStringLiteral("%1: indicator %2x%3 at %4,%5 in a button %6 high")
                                .arg(QLatin1String(name))
                                .arg(indicator.width())
                                .arg(indicator.height())
                                .arg(indicator.x())
                                .arg(indicator.y())
                                .arg(option->height())));
    }
}

void Form1Test::accessKeysStartAndStopTheRunAtOnce() {
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    loadRandomPictures(form);
    auto *stop = child<QPushButton>(form, "Command4");
    bool stopWasEnabled = false;
    QString titleAtTheKey;
    duoptica::Boolean16 flagRightAfterTheKey = duoptica::kFalse16;
    // Runs inside the run's first yield, when "&Stop" has just been enabled.
    QMetaObject::invokeMethod(
        stop,
        [&] {
            stopWasEnabled = stop->isEnabled();
            titleAtTheKey = form.windowTitle();
            QTest::keyClick(&form, Qt::Key_S, Qt::AltModifier);
            flagRightAfterTheKey = form.StopFlag;
        },
        Qt::QueuedConnection);

    // The whole run, stopped by Alt+S, has ended by the time Alt+G has been delivered.
    QTest::keyClick(&form, Qt::Key_G, Qt::AltModifier);

    QVERIFY(stopWasEnabled);
    QCOMPARE(flagRightAfterTheKey, duoptica::kTrue16);
    QCOMPARE(titleAtTheKey, QStringLiteral("0%"));
    QCOMPARE(form.windowTitle(), QStringLiteral("Canceled by user at 0%"));
    QVERIFY(controlsIdle(form));
}

void Form1Test::firstCloseIsRefusedAndTheTickCloses() {
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto *timer = child<QTimer>(form, "Timer1");
    QVERIFY(!timer->isActive());

    QVERIFY(!form.close());
    QVERIFY(form.isVisible());
    QCOMPARE(form.StopFlag, duoptica::kTrue16);
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 1);

    QTRY_VERIFY(!form.isVisible());
    QVERIFY(!timer->isActive());
}

void Form1Test::closeRequestAfterTheTimerStartedGoesThrough() {
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    std::int16_t Cancel = 0;
    form.Form_Unload(Cancel);
    QCOMPARE(Cancel, 1);
    Cancel = 0;
    form.Form_Unload(Cancel);
    QCOMPARE(Cancel, 0);

    form.StopFlag = duoptica::kFalse16;
    QVERIFY(form.close());
    QCOMPARE(form.StopFlag, duoptica::kTrue16); // raised again as the window goes
}

void Form1Test::closeStopsAnyRunThenExitsWithZero_data() {
    QTest::addColumn<bool>("duringARun");
    QTest::addColumn<bool>("tickInTheSameYield");
    QTest::newRow("idle") << false << false;
    QTest::newRow("running, tick in a later yield") << true << false;
    QTest::newRow("running, tick in the same yield") << true << true;
}

void Form1Test::closeStopsAnyRunThenExitsWithZero() {
    QFETCH(bool, duringARun);
    QFETCH(bool, tickInTheSameYield);
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    loadRandomPictures(form);

    QString titleAfterRun;
    if (duringARun)
        QMetaObject::invokeMethod(
            &form,
            [&] {
                form.Command1_Click();
                titleAfterRun = form.windowTitle();
            },
            Qt::QueuedConnection);
    // Posted after the run, so handled inside its first yield.
    QMetaObject::invokeMethod(
        &form,
        [&] {
            form.close();
            if (tickInTheSameYield)
                form.Timer1_Timer();
        },
        Qt::QueuedConnection);
    // A loop that fails to end would otherwise hang the test.
    QTimer::singleShot(10000, qApp, [] { QCoreApplication::exit(99); });

    QCOMPARE(QApplication::exec(), 0);
    if (duringARun)
        QCOMPARE(titleAfterRun, QStringLiteral("Canceled by user at 0%"));
    QVERIFY(!form.isVisible());
}

void Form1Test::cleanup() {
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

QTEST_MAIN(Form1Test)
#include "tst_form1.moc"
