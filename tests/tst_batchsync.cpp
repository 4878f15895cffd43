// A batch whose outputs do not reach the disk, or cannot be renamed into place: the pair fails, the
// batch says so, and the output folder holds what it held before, with no temporary file. The
// same for one pair outside a batch, also when it writes two files and the second fails. The
// disk's refusal is made here, by this program's own fdatasync and rename, which stand in for the
// C library's in the tool's code and in Qt's QSaveFile alike.
#include "batch_run.h"
#include "pair_files.h"
#include "picture_fixtures.h"

#include <QDir>
#include <QHash>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace duoptica;

namespace {

enum class FailingCall { None, Sync, Rename };

std::atomic<FailingCall> failing = FailingCall::None;
// How many calls of the failing kind still succeed before the first that fails.
std::atomic<int> callsBeforeFailing = 0;

bool fails(FailingCall call) {
    if (failing != call || callsBeforeFailing-- > 0)
        return false;
    errno = EIO;
    return true;
}

// Each file of the folder with its bytes.
QHash<QString, QByteArray> folderContents(const QDir &folder) {
    QHash<QString, QByteArray> contents;
    for (const QString &name :
         folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
        contents.insert(name, fixtures::readFile(folder.filePath(name)));
    return contents;
}

} // namespace

extern "C" int fdatasync(int fd) {
    return fails(FailingCall::Sync) ? -1 : int(syscall(SYS_fdatasync, fd));
}

// QSaveFile::commit() renames its file over an earlier output with rename().
extern "C" int rename(const char *from, const char *to) noexcept {
    return fails(FailingCall::Rename) ? -1 : renameat(AT_FDCWD, from, AT_FDCWD, to);
}

Q_DECLARE_METATYPE(FailingCall)
Q_DECLARE_METATYPE(duoptica::StereoOutput)

class BatchSyncTest : public QObject {
    Q_OBJECT

private slots:
    void outputNotPutInPlaceFailsItsPairAndLeavesNothing_data();
    void outputNotPutInPlaceFailsItsPairAndLeavesNothing();
    void pairOutsideABatchNotPutInPlaceKeepsTheEarlierFiles_data();
    void pairOutsideABatchNotPutInPlaceKeepsTheEarlierFiles();
    void cleanup() {
        failing = FailingCall::None;
        callsBeforeFailing = 0;
    }
};

void BatchSyncTest::outputNotPutInPlaceFailsItsPairAndLeavesNothing_data() {
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<FailingCall>("failingCall");
    QTest::addColumn<bool>("earlierOutputs");
    QTest::newRow("BMP pair, direct path, the sync fails")
        << "bmp" << QByteArray("bmp") << FailingCall::Sync << false;
    QTest::newRow("JPEG pair streamed into JPEG, the sync fails")
        << "jpg" << QByteArray("jpg") << FailingCall::Sync << false;
    QTest::newRow("PNG pair through Qt's BMP writer, the sync fails")
        << "png" << QByteArray("bmp") << FailingCall::Sync << false;
    QTest::newRow("JPEG pair into PNG deflated in parallel, the sync fails")
        << "jpg" << QByteArray("png") << FailingCall::Sync << false;
    QTest::newRow("JPEG pair streamed into JPEG, the commit's rename over an earlier output fails")
        << "jpg" << QByteArray("jpg") << FailingCall::Rename << true;
}

void BatchSyncTest::outputNotPutInPlaceFailsItsPairAndLeavesNothing() {
    QFETCH(QString, extension);
    QFETCH(QByteArray, format);
    QFETCH(FailingCall, failingCall);
    QFETCH(bool, earlierOutputs);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QDir folder(dir.path());
    QVERIFY(folder.mkdir(QStringLiteral("in")) && folder.mkdir(QStringLiteral("out")));
    const QImage left = fixtures::smoothPicture({96, 64});
    const QImage right = left.mirrored(true, false);
    const auto bytes = [&](const QImage &picture) {
        return extension == u"bmp"   ? fixtures::bmpBytes(picture, fixtures::BmpLayout::Rgb24)
               : extension == u"png" ? fixtures::pngBytes(picture)
                                     : fixtures::jpegBytes(picture);
    };
    // More pairs than workers, so that pairs also start while others wait for the disk.
    constexpr int kPairs = 3;
    QStringList outputs;
    for (int i = 0; i < kPairs; ++i) {
        const QString name = QStringLiteral("in/p%1_").arg(i);
        QVERIFY(fixtures::writeFile(folder.filePath(name + QStringLiteral("L.") + extension),
                                    bytes(left)));
        QVERIFY(fixtures::writeFile(folder.filePath(name + QStringLiteral("R.") + extension),
                                    bytes(right)));
        outputs << QStringLiteral("out/p%1.").arg(i) + QString::fromLatin1(format);
        if (earlierOutputs)
            QVERIFY(fixtures::writeFile(folder.filePath(outputs.back()), "an earlier run's"));
    }
    const QDir outputFolder(folder.filePath(QStringLiteral("out")));
    const QHash<QString, QByteArray> before = folderContents(outputFolder);

    BatchRequest request;
    request.inputDir = folder.filePath(QStringLiteral("in"));
    request.outputDir = outputFolder.path();
    request.settings.format = duoptica::outputFormatNamed(QString::fromLatin1(format))->file;
    request.workers = 2;
    QStringList problems;
    BatchReport report;
    report.problem = [&](const QString &line) { problems << line; };
    failing = failingCall;
    const BatchSummary summary = runBatch(request, report);
    failing = FailingCall::None;

    QCOMPARE(summary.code, ExitCode::WriteFailure);
    QCOMPARE(summary.failed, kPairs);
    QCOMPARE(problems.size(), kPairs);
    for (const QString &output : std::as_const(outputs))
        QCOMPARE(problems.filter(folder.filePath(output)).size(), 1);
    QCOMPARE(problems.filter(QString::fromLocal8Bit(std::strerror(EIO))).size(), kPairs);
    QCOMPARE(folderContents(outputFolder), before);
}

void BatchSyncTest::pairOutsideABatchNotPutInPlaceKeepsTheEarlierFiles_data() {
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<StereoOutput>("to");
    QTest::newRow("BMP pair, direct path, the sync fails")
        << "bmp" << QByteArray("bmp") << StereoOutput::Anaglyph;
    QTest::newRow("JPEG pair copied into a pair of JPEGs, the second sync fails")
        << "jpg" << QByteArray("jpg") << StereoOutput::Pair;
    QTest::newRow("PNG pair into a pair of PNGs, the second sync fails")
        << "png" << QByteArray("png") << StereoOutput::Pair;
}

void BatchSyncTest::pairOutsideABatchNotPutInPlaceKeepsTheEarlierFiles() {
    QFETCH(QString, extension);
    QFETCH(QByteArray, format);
    QFETCH(StereoOutput, to);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QDir folder(dir.path());
    QVERIFY(folder.mkdir(QStringLiteral("out")));
    const QImage left = fixtures::smoothPicture({96, 64});
    const QImage right = left.mirrored(true, false);
    const auto bytes = [&](const QImage &picture) {
        return extension == u"bmp"   ? fixtures::bmpBytes(picture, fixtures::BmpLayout::Rgb24)
               : extension == u"png" ? fixtures::pngBytes(picture)
                                     : fixtures::jpegBytes(picture);
    };
    PairJob job;
    job.leftFile = folder.filePath(QStringLiteral("l.") + extension);
    job.rightFile = folder.filePath(QStringLiteral("r.") + extension);
    job.outputFile = folder.filePath(QStringLiteral("out/o.") + QString::fromLatin1(format));
    job.settings.format = duoptica::outputFormatNamed(QString::fromLatin1(format))->file;
    job.settings.to = to;
    QVERIFY(fixtures::writeFile(job.leftFile, bytes(left)));
    QVERIFY(fixtures::writeFile(job.rightFile, bytes(right)));
    for (const QString &output : outputFilesOf(job))
        QVERIFY(fixtures::writeFile(output, "an earlier run's"));
    const QDir outputFolder(folder.filePath(QStringLiteral("out")));
    const QHash<QString, QByteArray> before = folderContents(outputFolder);

    // A pair of files fails on its second file, once the first is already on disk.
    callsBeforeFailing = to == StereoOutput::Pair ? 1 : 0;
    failing = FailingCall::Sync;
    const Outcome outcome = combinePairFiles(job);
    failing = FailingCall::None;

    QCOMPARE(outcome.code, ExitCode::WriteFailure);
    QVERIFY2(outcome.message.contains(QString::fromLocal8Bit(std::strerror(EIO))),
             qPrintable(outcome.message));
    QCOMPARE(folderContents(outputFolder), before);
}

QTEST_GUILESS_MAIN(BatchSyncTest)
#include "tst_batchsync.moc"
