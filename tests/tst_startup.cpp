// Starting the program where no display can be reached: one clear line and status 1, no crash.
#include "run_program.h"

#include <QTest>

class StartupTest : public QObject {
    Q_OBJECT

private slots:
    void withoutDisplaySaysSoInOneLine_data();
    void withoutDisplaySaysSoInOneLine();
};

void StartupTest::withoutDisplaySaysSoInOneLine_data() {
    QTest::addColumn<QString>("display");
    QTest::addColumn<QString>("platform");
    QTest::newRow("no DISPLAY at all") << QString() << QString();
    QTest::newRow("DISPLAY names no server") << QStringLiteral(":97") << QStringLiteral("xcb");
}

void StartupTest::withoutDisplaySaysSoInOneLine() {
    QFETCH(QString, display);
    QFETCH(QString, platform);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    if (!display.isEmpty())
        env.insert(QStringLiteral("DISPLAY"), display);
    if (!platform.isEmpty())
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);

    const ProgramRun run = runProgram(QStringLiteral(DUOPTICA_PROGRAM), {}, env);
    QCOMPARE(run.exitCode, 1);
    const QByteArray errors = run.err.trimmed();
    QVERIFY2(!errors.contains('\n'), errors.constData());
    QVERIFY2(errors.contains("no display could be opened"), errors.constData());
    QVERIFY2(errors.contains("xvfb-run"), errors.constData());
}

QTEST_GUILESS_MAIN(StartupTest)
#include "tst_startup.moc"
