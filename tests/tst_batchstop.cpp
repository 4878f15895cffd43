// duoptica-combine asked to stop mid-batch, as a scheduler or a container runtime asks, and the
// workers it runs inside a CPU quota.
#include "picture_fixtures.h"
#include "run_program.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

const QString kTool = QStringLiteral(DUOPTICA_COMBINE);
constexpr int kPairs = 16;
const QSize kPictureSize(2400, 1600);

// The keys of a report line in the order they were written.
QStringList keysInOrder(const QByteArray &line) {
    static const QRegularExpression key(QStringLiteral(R"re("([a-z_]+)":)re"));
    QStringList keys;
    for (const QRegularExpressionMatch &match : key.globalMatch(QString::fromUtf8(line)))
        keys << match.captured(1);
    return keys;
}

QList<QJsonObject> summaries(const QString &reportFile) {
    QList<QJsonObject> found;
    for (const QByteArray &line : fixtures::readFile(reportFile).split('\n'))
        if (line.startsWith(R"({"type":"summary")"))
            found << QJsonDocument::fromJson(line).object();
    return found;
}

// The process that does the work: the tool itself, or its child when unshare runs it as PID 1
// of a namespace of its own.
qint64 workerOf(const QProcess &process, bool asPidOne) {
    if (!asPidOne)
        return process.processId();
    const QDeadlineTimer patience(10000);
    while (!patience.hasExpired()) {
        const QByteArray children =
            fixtures::readFile(QStringLiteral("/proc/%1/task/%1/children").arg(process.processId()))
                .trimmed();
        if (!children.isEmpty())
            return children.split(' ').first().toLongLong();
        QTest::qWait(10);
    }
    return -1;
}

} // namespace

class BatchStopTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void stopsMidBatchLeavingNothingPartial_data();
    void stopsMidBatchLeavingNothingPartial();
    void workersFollowTheCpuQuota_data();
    void workersFollowTheCpuQuota();

private:
    QString path(const QString &name) const { return dir_.filePath(name); }
    QTemporaryDir dir_;
};

void BatchStopTest::initTestCase() {
    QVERIFY(dir_.isValid());
    QVERIFY(QDir(dir_.path()).mkdir(QStringLiteral("in")));
    // JPEG pairs large enough that a batch of them is still running when the signal comes.
    const QByteArray left = fixtures::jpegBytes(fixtures::smoothPicture(kPictureSize));
    const QByteArray right =
        fixtures::jpegBytes(fixtures::smoothPicture(kPictureSize).mirrored(true, false));
    for (int i = 0; i < kPairs; ++i) {
        QVERIFY(fixtures::writeFile(path(QStringLiteral("in/p%1_L.jpg").arg(i, 2, 10, QChar(u'0'))),
                                    left));
        QVERIFY(fixtures::writeFile(path(QStringLiteral("in/p%1_R.jpg").arg(i, 2, 10, QChar(u'0'))),
                                    right));
    }
}

void BatchStopTest::stopsMidBatchLeavingNothingPartial_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("asPidOne");
    QTest::addColumn<int>("exitStatus");
    QTest::newRow("SIGTERM, as a scheduler cancels a task") << int(SIGTERM) << false << 143;
    QTest::newRow("SIGINT, as Ctrl+C") << int(SIGINT) << false << 130;
    QTest::newRow("SIGTERM to PID 1, as a container's runtime stops it")
        << int(SIGTERM) << true << 143;
}

void BatchStopTest::stopsMidBatchLeavingNothingPartial() {
    QFETCH(int, signal);
    QFETCH(bool, asPidOne);
    QFETCH(int, exitStatus);
    const QString out = path(QStringLiteral("out-%1").arg(QTest::currentDataTag()));
    const QString report = out + QStringLiteral("-reports/shard.jsonl");
    const QStringList arguments{"--skip-existing", "--report", report, "--batch", path("in"), out};
    QProcess run;
    if (asPidOne) {
        const QString unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
        if (unshare.isEmpty() || runProgram(unshare, {"--pid", "--fork", "true"}).exitCode != 0)
            QSKIP("unshare cannot make a PID namespace here (it needs root or user namespaces)");
        run.start(unshare, QStringList{"--pid", "--fork", kTool} + arguments);
    } else {
        run.start(kTool, arguments);
    }
    QVERIFY(run.waitForStarted());
    const qint64 worker = workerOf(run, asPidOne);
    QVERIFY(worker > 0);
    // Once the first pair is written the others are under way.
    const QDir outputs(out);
    const QDeadlineTimer patience(60000);
    while (outputs.entryList(QDir::Files).isEmpty() && !patience.hasExpired() &&
           !run.waitForFinished(5)) {
    }
    QCOMPARE(run.state(), QProcess::Running);
    QCOMPARE(::kill(pid_t(worker), signal), 0);
    QVERIFY2(run.waitForFinished(2000), "still running 2 s after the signal");
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.exitCode(), exitStatus);

    // Every file there is a whole output under its own name: no temporary, no half picture.
    const QStringList written = outputs.entryList(QDir::Files | QDir::Hidden);
    QVERIFY2(!written.isEmpty() && written.size() < kPairs, qPrintable(written.join(u' ')));
    for (const QString &name : written) {
        QVERIFY2(QRegularExpression(QStringLiteral(R"(^p\d\d\.bmp$)")).match(name).hasMatch(),
                 qPrintable(name));
        QImage picture;
        QVERIFY2(picture.load(outputs.filePath(name)), qPrintable(name));
        QCOMPARE(picture.size(), kPictureSize);
    }
    QList<QJsonObject> told = summaries(report);
    QCOMPARE(told.size(), 1);
    QCOMPARE(told[0].value(u"interrupted").toBool(), true);
    QCOMPARE(told[0].value(u"exit").toInt(), exitStatus);
    QCOMPARE(told[0].value(u"combined").toInt(), written.size());
    QCOMPARE(told[0].value(u"unfinished").toInt(), kPairs - written.size());

    // The rerun finishes the rest, and its summary follows the first run's.
    const ProgramRun rerun = runProgram(kTool, arguments);
    QCOMPARE(rerun.exitCode, 0);
    QCOMPARE(outputs.entryList(QDir::Files | QDir::Hidden).size(), kPairs);
    told = summaries(report);
    QCOMPARE(told.size(), 2);
    QCOMPARE(told[1].value(u"interrupted").toBool(), false);
    QCOMPARE(told[1].value(u"skipped").toInt(), written.size());
    QCOMPARE(told[1].value(u"combined").toInt(), kPairs - written.size());
    // The keys in the order docs/cluster.md gives them, "type" first.
    for (const QByteArray &line : fixtures::readFile(report).split('\n')) {
        if (line.isEmpty())
            continue;
        const QStringList expected =
            line.startsWith(R"({"type":"pair")")
                ? QStringList{"type", "left",   "right",        "output", "status",
                              "exit", "reason", "milliseconds", "pixels"}
                : QStringList{"type",           "shard",       "pairs_in_folder", "pairs",
                              "combined",       "skipped",     "failed",          "unpaired",
                              "unpaired_files", "unfinished",  "interrupted",     "workers",
                              "exit",           "milliseconds"};
        QCOMPARE(keysInOrder(line), expected);
    }
}

void BatchStopTest::workersFollowTheCpuQuota_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("workers");
    QTest::newRow("a 1-CPU quota") << QStringList() << 1;
    QTest::newRow("a 1-CPU quota, --jobs 3 given") << QStringList{"--jobs", "3"} << 3;
}

void BatchStopTest::workersFollowTheCpuQuota() {
    QFETCH(QStringList, options);
    QFETCH(int, workers);
    // A group of our own under the cgroup v2 tree or the v1 cpu controller, given one CPU.
    QTemporaryDir scratch;
    const QString name = QStringLiteral("duoptica-test-%1").arg(QCoreApplication::applicationPid());
    QString group;
    QString limit;
    if (QFile::exists(QStringLiteral("/sys/fs/cgroup/cgroup.controllers"))) {
        group = QStringLiteral("/sys/fs/cgroup/") + name;
        limit = QStringLiteral("echo '100000 100000' > %1/cpu.max").arg(group);
    } else {
        group = QStringLiteral("/sys/fs/cgroup/cpu/") + name;
        limit = QStringLiteral("echo 100000 > %1/cpu.cfs_period_us && "
                               "echo 100000 > %1/cpu.cfs_quota_us")
                    .arg(group);
    }
    if (!QDir().mkdir(group) ||
        runProgram(QStringLiteral("/bin/sh"), {"-c", limit}).exitCode != 0) {
        QDir().rmdir(group);
        QSKIP("no cgroup with a CPU quota can be made here (it needs root and a writable "
              "cgroup tree)");
    }
    const QString report = scratch.filePath(QStringLiteral("report.jsonl"));
    const QString command =
        QStringLiteral("echo $$ > %1/cgroup.procs && exec \"$0\" \"$@\"").arg(group);
    const ProgramRun run = runProgram(QStringLiteral("/bin/sh"),
                                      QStringList{"-c", command, kTool} + options +
                                          QStringList{"--report", report, "--batch", path("in"),
                                                      scratch.filePath(QStringLiteral("out"))});
    QDir().rmdir(group);
    QCOMPARE(run.exitCode, 0);
    const QList<QJsonObject> told = summaries(report);
    QCOMPARE(told.size(), 1);
    QCOMPARE(told[0].value(u"workers").toInt(), workers);
}

QTEST_GUILESS_MAIN(BatchStopTest)
#include "tst_batchstop.moc"
