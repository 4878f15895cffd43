// The main window's own behaviour: its starting state, "&Stop", and the two-stage close.
#include "form1.h"

#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

class Form1Test : public QObject {
    Q_OBJECT

private slots:
    void startsIdleWithNormalSelected();
    void stopRaisesTheFlagOnly();
    void firstCloseIsRefusedAndTheTickCloses();
    void closeRequestAfterTheTimerStartedGoesThrough();
    void closingEndsTheEventLoopWithExitCodeZero();
    void cleanup();
};

void Form1Test::startsIdleWithNormalSelected() {
    Form1 form;
    QCOMPARE(form.windowTitle(), QStringLiteral("Duoptica"));
    QVERIFY(form.findChild<QRadioButton *>("Option1")->isChecked());
    QVERIFY(!form.findChild<QRadioButton *>("Option2")->isChecked());
    QVERIFY(!form.findChild<QPushButton *>("Command4")->isEnabled());
    QCOMPARE(form.StopFlag, duoptica::kFalse16);
    for (const char *name : {"Command1", "Command2", "Command3", "Command5"})
        QVERIFY2(form.findChild<QPushButton *>(name)->isEnabled(), name);

    // The option buttons exclude each other.
    form.findChild<QRadioButton *>("Option3")->click();
    QVERIFY(!form.findChild<QRadioButton *>("Option1")->isChecked());
}

void Form1Test::stopRaisesTheFlagOnly() {
    Form1 form;
    form.Command4_Click();
    QCOMPARE(form.StopFlag, duoptica::kTrue16);
    QCOMPARE(form.windowTitle(), QStringLiteral("Duoptica"));
    QVERIFY(!form.findChild<QPushButton *>("Command4")->isEnabled());
}

void Form1Test::firstCloseIsRefusedAndTheTickCloses() {
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    auto *timer = form.findChild<QTimer *>("Timer1");
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

void Form1Test::closingEndsTheEventLoopWithExitCodeZero() {
    Form1 form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTimer::singleShot(0, &form, [&form] { form.close(); });
    // A loop that fails to end would otherwise hang the test.
    QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(99); });
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!form.isVisible());
}

void Form1Test::cleanup() {
    QVERIFY(QApplication::topLevelWidgets().isEmpty());
}

QTEST_MAIN(Form1Test)
#include "tst_form1.moc"
