// Prints how fast duoptica-combine is: the combining step of every method against a plain memory
// copy of the same bytes and against the normal mode, whole runs on BMP (Qt's and ImageMagick's)
// and JPEG pairs against ImageMagick and against the floor of what any such run must do, a
// side-by-side JPEG against its eyes as two files, PNG output against ffmpeg and ImageMagick, peak
// memory, batches against the same pairs combined one by one, and a batch whose outputs go to a
// slow disk (processor time beside wall time). It measures and prints; it judges nothing.
#include "combine_pictures.h"
#include "jpeg_band_reader.h"
#include "jpeg_band_writer.h"
#include "photo_like_picture.h"
#include "process_run.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtConcurrentMap>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using duoptica::PackedPixel;
using duoptica::Threads;

namespace {

// --mode normal: the average, as ImageMagick's -evaluate-sequence mean makes it, where the
// tool's default is an anaglyph.
const QString kModeOption = QStringLiteral("--mode");
const QString kAverage = QStringLiteral("normal");

struct Figures {
    double medianSeconds = 0;
    double minSeconds = 0;
    double maxSeconds = 0;
    long peakKiB = 0;
    int exitCode = 0;
    double medianCpuSeconds = 0; // user + system, of commands run as processes
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

Figures summarise(std::vector<double> seconds, long peakKiB = 0, int exitCode = 0) {
    std::sort(seconds.begin(), seconds.end());
    return {seconds[seconds.size() / 2], seconds.front(), seconds.back(), peakKiB, exitCode};
}

Figures timeInProcess(int runs, const std::function<void()> &work) {
    work(); // warm-up: caches, pages, thread pool
    std::vector<double> seconds;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        seconds.push_back(double(timer.nsecsElapsed()) / 1e9);
    }
    return summarise(seconds);
}

// Runs the commands in turn, a b a b ..., so that a drift in the machine's speed hits both.
std::vector<Figures> timeCommands(int runs, const std::vector<QStringList> &commands) {
    std::vector<std::vector<double>> seconds(commands.size());
    std::vector<std::vector<double>> cpuSeconds(commands.size());
    std::vector<long> peaks(commands.size(), 0);
    std::vector<int> exitCodes(commands.size(), 0);
    for (int i = -1; i < runs; ++i) { // run -1 is a warm-up
        for (std::size_t c = 0; c < commands.size(); ++c) {
            const ProcessRun run = runProcess(commands[c]);
            exitCodes[c] = std::max(exitCodes[c], run.exitCode);
            if (i < 0)
                continue;
            seconds[c].push_back(run.seconds);
            cpuSeconds[c].push_back(run.cpuSeconds);
            peaks[c] = std::max(peaks[c], run.peakKiB);
        }
    }
    std::vector<Figures> figures;
    for (std::size_t c = 0; c < commands.size(); ++c) {
        figures.push_back(summarise(seconds[c], peaks[c], exitCodes[c]));
        figures.back().medianCpuSeconds = median(cpuSeconds[c]);
    }
    return figures;
}

void printRow(const char *what, const Figures &f, double bytes = 0) {
    std::printf("  %-44s median %8.3f s  (min %.3f, max %.3f)", what, f.medianSeconds, f.minSeconds,
                f.maxSeconds);
    if (bytes > 0)
        std::printf("  %6.2f GB/s", bytes / f.medianSeconds / 1e9);
    if (f.peakKiB > 0)
        std::printf("  peak %6.1f MiB", double(f.peakKiB) / 1024);
    if (f.exitCode != 0)
        std::printf("  EXIT STATUS %d", f.exitCode);
    std::printf("\n");
}

QImage randomPicture(int width, int height, unsigned seed) {
    QImage picture(width, height, QImage::Format_RGB32);
    std::mt19937 random(seed);
    auto *pixels = reinterpret_cast<PackedPixel *>(picture.bits());
    for (qsizetype i = 0, n = qsizetype(width) * height; i < n; ++i)
        pixels[i] = random() | 0xFF000000u;
    return picture;
}

// A device that takes every byte and keeps none: the encoder's work without the disk's.
class DiscardingDevice : public QIODevice {
protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 size) override { return size; }
};

// What any run on a JPEG pair must at least do: decode both inputs and encode one output, with
// the same libjpeg calls, and no combining or writing.
bool decodeTwiceEncodeOnce(const QString &left, const QString &right) {
    duoptica::JpegBandReader leftReader;
    duoptica::JpegBandReader rightReader;
    if (!leftReader.open(left) || !rightReader.open(right) || !leftReader.start() ||
        !rightReader.start())
        return false;
    const int width = leftReader.width();
    constexpr int kRows = 32;
    std::vector<std::uint32_t> rows(std::size_t(width) * kRows);
    DiscardingDevice sink;
    sink.open(QIODevice::WriteOnly);
    duoptica::JpegBandWriter writer;
    if (!writer.start(sink, width, leftReader.height(), 2835, 2835, duoptica::kDefaultJpegQuality))
        return false;
    for (int row = 0; row < leftReader.height(); row += kRows) {
        const int count = std::min(kRows, leftReader.height() - row);
        if (!rightReader.readRows(rows.data(), count) || !leftReader.readRows(rows.data(), count) ||
            !writer.writeRows(rows.data(), count))
            return false;
    }
    return writer.finish();
}

// The codec floor as a whole process, like the commands it is set against, so that it is timed in
// turn with them: every NAME_L.jpg with its NAME_R.jpg in the folder, over all cores.
int runCodecFloor(const QDir &folder) {
    const QStringList lefts = folder.entryList({QStringLiteral("*_L.jpg")}, QDir::Files);
    std::atomic<int> failures = 0;
    QtConcurrent::blockingMap(lefts, [&](const QString &left) {
        QString right = left;
        right.replace(right.size() - 6, 6, QStringLiteral("_R.jpg"));
        if (!decodeTwiceEncodeOnce(folder.filePath(left), folder.filePath(right)))
            ++failures;
    });
    return failures == 0 && !lefts.isEmpty() ? 0 : 1;
}

QStringList codecFloorCommand(const QDir &folder) {
    return {QCoreApplication::applicationFilePath(), QStringLiteral("--codec-floor"),
            folder.path()};
}

void benchJpegRuns(const QString &tool, const QDir &dir, int runs) {
    QDir(dir.path()).mkpath(QStringLiteral("jpeg-pair"));
    const QDir pair(dir.filePath(QStringLiteral("jpeg-pair")));
    const QString left = pair.filePath(QStringLiteral("one_L.jpg"));
    const QString right = pair.filePath(QStringLiteral("one_R.jpg"));
    QFile::link(dir.filePath(QStringLiteral("L.jpg")), left);
    QFile::link(dir.filePath(QStringLiteral("R.jpg")), right);
    std::printf("\nWhole runs on one JPEG pair (%.1f and %.1f MB), %d runs each, alternating\n",
                double(QFileInfo(left).size()) / 1e6, double(QFileInfo(right).size()) / 1e6, runs);
    const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    std::vector<QStringList> commands{
        {tool, kModeOption, kAverage, left, right, dir.filePath(QStringLiteral("out.jpg"))},
        codecFloorCommand(pair)};
    if (!convert.isEmpty())
        commands.push_back({convert, left, right, QStringLiteral("-evaluate-sequence"),
                            QStringLiteral("mean"), QStringLiteral("-quality"),
                            QStringLiteral("90"), dir.filePath(QStringLiteral("magick.jpg"))});
    const std::vector<Figures> figures = timeCommands(runs, commands);
    printRow("duoptica-combine L.jpg R.jpg out.jpg", figures[0]);
    printRow("codec floor: 2 decodes + 1 encode, 1 thread", figures[1]);
    std::printf("  %-44s %.2fx the one-thread codec floor\n", "duoptica-combine",
                figures[0].medianSeconds / figures[1].medianSeconds);
    if (convert.isEmpty()) {
        std::printf("  ImageMagick's convert not found: comparison skipped\n");
        return;
    }
    printRow("convert L.jpg R.jpg -evaluate-sequence mean", figures[2]);
    std::printf("  %-44s %.2fx faster than ImageMagick\n", "duoptica-combine",
                figures[2].medianSeconds / figures[0].medianSeconds);
}

void benchJpegBatch(const QString &tool, const QDir &dir, int pairs, int runs) {
    QDir(dir.path()).mkpath(QStringLiteral("jpeg-in"));
    const QDir in(dir.filePath(QStringLiteral("jpeg-in")));
    QStringList magickLoop;
    for (int i = 0; i < pairs; ++i) {
        const QString name = QStringLiteral("pair%1").arg(i, 2, 10, QChar(u'0'));
        QFile::link(dir.filePath(QStringLiteral("L.jpg")), in.filePath(name + "_L.jpg"));
        QFile::link(dir.filePath(QStringLiteral("R.jpg")), in.filePath(name + "_R.jpg"));
        magickLoop << QStringLiteral("convert \"%1\" \"%2\" -evaluate-sequence mean -quality 90 "
                                     "\"%3\"")
                          .arg(in.filePath(name + "_L.jpg"), in.filePath(name + "_R.jpg"),
                               dir.filePath(QStringLiteral("magick-") + name + ".jpg"));
    }
    std::printf("\nA batch of %d JPEG pairs into JPEG, %d runs each, alternating\n", pairs, runs);
    std::vector<QStringList> commands{{tool, kModeOption, kAverage, QStringLiteral("--format"),
                                       QStringLiteral("jpg"), QStringLiteral("--batch"), in.path(),
                                       dir.filePath(QStringLiteral("jpeg-out"))},
                                      codecFloorCommand(in)};
    const bool haveConvert = !QStandardPaths::findExecutable(QStringLiteral("convert")).isEmpty();
    if (haveConvert)
        commands.push_back({QStringLiteral("sh"), QStringLiteral("-ec"), magickLoop.join(u'\n')});
    const std::vector<Figures> figures = timeCommands(runs, commands);
    printRow("duoptica-combine --format jpg --batch", figures[0]);
    printRow("codec floor over all cores", figures[1]);
    std::printf("  %-44s %.2fx the codec floor\n", "the batch",
                figures[0].medianSeconds / figures[1].medianSeconds);
    if (!haveConvert)
        return;
    printRow("a loop of convert ... -evaluate-sequence mean", figures[2]);
    std::printf("  %-44s %.2fx faster than ImageMagick\n", "the batch",
                figures[2].medianSeconds / figures[0].medianSeconds);
}

void benchCombineStep(const QImage &left, const QImage &right, int runs) {
    const qsizetype count = qsizetype(left.width()) * left.height();
    const double pictureBytes = double(count) * sizeof(PackedPixel);
    std::vector<PackedPixel> output(std::size_t(count), 0); // touched, so no page faults are timed
    const auto *l = reinterpret_cast<const PackedPixel *>(left.constBits());
    const auto *r = reinterpret_cast<const PackedPixel *>(right.constBits());

    std::printf("\nThe combining step alone, %dx%d (%.0f MiB a picture), on %d threads; GB/s "
                "counts one picture's bytes\n",
                left.width(), left.height(), pictureBytes / (1 << 20), QThread::idealThreadCount());
    printRow("memcpy of one picture, 1 thread",
             timeInProcess(runs, [&] { std::memcpy(output.data(), l, std::size_t(pictureBytes)); }),
             pictureBytes);
    // The same copy cut into the same chunks as the combination, over every core.
    std::vector<qsizetype> chunks;
    constexpr qsizetype chunk = qsizetype(1) << 16;
    for (qsizetype first = 0; first < count; first += chunk)
        chunks.push_back(first);
    const Figures copyAll = timeInProcess(runs, [&] {
        QtConcurrent::blockingMap(chunks, [&](qsizetype first) {
            std::memcpy(output.data() + first, l + first,
                        std::size_t(std::min(chunk, count - first)) * sizeof(PackedPixel));
        });
    });
    printRow("memcpy of one picture, all cores", copyAll, pictureBytes);
    double normalOne = 0;
    double normalAll = 0;
    for (const duoptica::MethodName &method : duoptica::kMethodNames) {
        const Figures one = timeInProcess(runs, [&] {
            duoptica::combinePixels(l, r, output.data(), count, method.method, Threads::One);
        });
        const Figures all = timeInProcess(runs, [&] {
            duoptica::combinePixels(l, r, output.data(), count, method.method, Threads::All);
        });
        if (method.method == duoptica::AnaglyphMethod::Normal) {
            normalOne = one.medianSeconds;
            normalAll = all.medianSeconds;
        }
        const QString name = QString::fromLatin1(method.name.data(), qsizetype(method.name.size()));
        printRow(qPrintable(QStringLiteral("combine %1, 1 thread").arg(name)), one, pictureBytes);
        printRow(qPrintable(QStringLiteral("combine %1, all cores").arg(name)), all, pictureBytes);
        std::printf("  %-44s %.2fx the copy on all cores; %.2fx / %.2fx the time of normal "
                    "(1 thread / all cores)\n",
                    "", all.medianSeconds / copyAll.medianSeconds, one.medianSeconds / normalOne,
                    all.medianSeconds / normalAll);
    }
}

void benchWholeRuns(const QString &tool, const QDir &dir, int runs) {
    const QString left = dir.filePath(QStringLiteral("L.bmp"));
    const QString right = dir.filePath(QStringLiteral("R.bmp"));
    // The same pixels as ImageMagick writes them by default (a Windows 98 header) and as BMP3,
    // both without a resolution: the BMPs users have most.
    const QString magickLeft = dir.filePath(QStringLiteral("magick-L.bmp"));
    const QString magickRight = dir.filePath(QStringLiteral("magick-R.bmp"));
    const QString bmp3Left = dir.filePath(QStringLiteral("bmp3-L.bmp"));
    const QString bmp3Right = dir.filePath(QStringLiteral("bmp3-R.bmp"));
    std::printf("\nWhole runs on one BMP pair, %d runs each, alternating\n", runs);
    const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    std::vector<QStringList> commands{
        {tool, kModeOption, kAverage, left, right, dir.filePath(QStringLiteral("out.bmp"))}};
    // The floor: read both inputs and write an output of the same size with fdatasync, as the
    // tool must at least do.
    commands.push_back({QStringLiteral("sh"), QStringLiteral("-ec"),
                        QStringLiteral("cat \"%1\" >/dev/null; dd if=\"%2\" of=\"%3\" bs=4M "
                                       "conv=fdatasync status=none")
                            .arg(right, left, dir.filePath(QStringLiteral("floor.bmp")))});
    if (!convert.isEmpty()) {
        for (const auto &[from, to, format] : {std::tuple{left, magickLeft, "BMP"},
                                               {right, magickRight, "BMP"},
                                               {left, bmp3Left, "BMP3"},
                                               {right, bmp3Right, "BMP3"}})
            runProcess({convert, from, QStringLiteral("-density"), QStringLiteral("0"),
                        QString::fromLatin1(format) + u':' + to});
        commands.push_back({convert, left, right, QStringLiteral("-evaluate-sequence"),
                            QStringLiteral("mean"), dir.filePath(QStringLiteral("magick.bmp"))});
        commands.push_back({tool, kModeOption, kAverage, magickLeft, magickRight,
                            dir.filePath(QStringLiteral("m.bmp"))});
        commands.push_back({tool, kModeOption, kAverage, bmp3Left, bmp3Right,
                            dir.filePath(QStringLiteral("m3.bmp"))});
    }
    const std::vector<Figures> figures = timeCommands(runs, commands);
    printRow("duoptica-combine L.bmp R.bmp out.bmp", figures[0]);
    printRow("I/O floor: read L and R, write + fdatasync", figures[1]);
    std::printf("  %-44s %.2fx the I/O floor\n", "duoptica-combine",
                figures[0].medianSeconds / figures[1].medianSeconds);
    if (convert.isEmpty()) {
        std::printf("  ImageMagick's convert not found: comparison skipped\n");
        return;
    }
    printRow("convert L.bmp R.bmp -evaluate-sequence mean", figures[2]);
    std::printf("  %-44s %.2fx faster than ImageMagick\n", "duoptica-combine",
                figures[2].medianSeconds / figures[0].medianSeconds);
    printRow("duoptica-combine on ImageMagick's BMP pair", figures[3]);
    std::printf("  %-44s %.2fx the I/O floor\n", "",
                figures[3].medianSeconds / figures[1].medianSeconds);
    printRow("duoptica-combine on ImageMagick's BMP3 pair", figures[4]);
    std::printf("  %-44s %.2fx the I/O floor\n", "",
                figures[4].medianSeconds / figures[1].medianSeconds);
}

// Seconds to decode every row of a JPEG with the streamed path's reader; negative on failure.
double decodeSeconds(const QString &file) {
    QElapsedTimer timer;
    timer.start();
    duoptica::JpegBandReader reader;
    if (!reader.open(file) || !reader.start())
        return -1;
    constexpr int kRows = 32;
    std::vector<std::uint32_t> rows(std::size_t(reader.width()) * kRows);
    for (int row = 0; row < reader.height(); row += kRows)
        if (!reader.readRows(rows.data(), std::min(kRows, reader.height() - row)))
            return -1;
    return double(timer.nsecsElapsed()) / 1e9;
}

// One JPEG holding both eyes side by side, and a .jps of them, against the same eyes as two
// files.
void benchSideBySide(const QString &tool, const QDir &dir, int runs) {
    const QString both = dir.filePath(QStringLiteral("both.jpg"));
    const QString jps = dir.filePath(QStringLiteral("both.jps"));
    QSize size;
    {
        // Let go before any command runs: a child forked while this process holds the pictures
        // would count them in its peak.
        const QImage left(dir.filePath(QStringLiteral("L.jpg")));
        size = QSize(left.width() * 2, left.height());
        QImage picture(size, QImage::Format_RGB32);
        QPainter painter(&picture);
        painter.drawImage(0, 0, left);
        painter.drawImage(left.width(), 0, QImage(dir.filePath(QStringLiteral("R.jpg"))));
        painter.end();
        if (!picture.save(both, nullptr, duoptica::kDefaultJpegQuality))
            return;
    }
    QFile::link(both, jps);
    std::printf("\nWhole runs on one side-by-side JPEG of %dx%d (%.1f MB), %d runs each, "
                "alternating\n",
                size.width(), size.height(), double(QFileInfo(both).size()) / 1e6, runs);
    const std::vector<Figures> figures = timeCommands(
        runs, {{tool, kModeOption, kAverage, QStringLiteral("--layout"), QStringLiteral("parallel"),
                both, dir.filePath(QStringLiteral("sbs.jpg"))},
               {tool, kModeOption, kAverage, jps, dir.filePath(QStringLiteral("jps.jpg"))},
               {tool, kModeOption, kAverage, dir.filePath(QStringLiteral("L.jpg")),
                dir.filePath(QStringLiteral("R.jpg")), dir.filePath(QStringLiteral("two.jpg"))}});
    printRow("duoptica-combine --layout parallel", figures[0]);
    printRow("duoptica-combine both.jps", figures[1]);
    printRow("duoptica-combine L.jpg R.jpg (the same eyes)", figures[2]);
    std::printf("  %-44s %.2fx / %.2fx the time of two files (parallel / jps)\n", "one picture",
                figures[0].medianSeconds / figures[2].medianSeconds,
                figures[1].medianSeconds / figures[2].medianSeconds);
    // The floor under those: one entropy-coded stream is decoded in order, by one thread, where
    // two files are decoded side by side. A reader cropped to one half still decodes the
    // entropy of whole rows, so two of them only add work.
    std::vector<double> whole;
    std::vector<double> eyes;
    for (int run = 0; run < runs; ++run) {
        whole.push_back(decodeSeconds(both));
        double right = 0;
        QThread *const other =
            QThread::create([&] { right = decodeSeconds(dir.filePath(QStringLiteral("R.jpg"))); });
        other->start();
        const double left = decodeSeconds(dir.filePath(QStringLiteral("L.jpg")));
        other->wait();
        delete other;
        eyes.push_back(std::min(left, right) < 0 ? -1 : std::max(left, right));
    }
    const Figures stream = summarise(whole);
    const Figures twoFiles = summarise(eyes);
    std::printf("  %-44s median    %.3f s\n", "decoding only: the picture, one reader",
                stream.medianSeconds);
    std::printf("  %-44s median    %.3f s\n", "decoding only: the two eyes, two threads",
                twoFiles.medianSeconds);
    std::printf("  %-44s %.2fx the two eyes' decoding\n", "one stream's decoding",
                stream.medianSeconds / twoFiles.medianSeconds);
}

// The share of pixels in which two pictures of the same size differ.
double differingShare(const QString &oneFile, const QString &otherFile) {
    const QImage one = QImage(oneFile).convertToFormat(QImage::Format_RGB32);
    const QImage other = QImage(otherFile).convertToFormat(QImage::Format_RGB32);
    if (one.isNull() || one.size() != other.size())
        return -1;
    qsizetype differing = 0;
    for (int y = 0; y < one.height(); ++y) {
        const auto *a = reinterpret_cast<const QRgb *>(one.constScanLine(y));
        const auto *b = reinterpret_cast<const QRgb *>(other.constScanLine(y));
        for (int x = 0; x < one.width(); ++x)
            differing += a[x] != b[x];
    }
    return double(differing) / (double(one.width()) * one.height());
}

// PNG output of the JPEG pair against ffmpeg's and ImageMagick's average of the same pair, with
// the files' sizes, and ImageMagick's encoder on our own pixels: its average is not ours, so its
// file holds other pixels.
void benchPngOutput(const QString &tool, const QDir &dir, int runs) {
    const QString left = dir.filePath(QStringLiteral("L.jpg"));
    const QString right = dir.filePath(QStringLiteral("R.jpg"));
    const QString ours = dir.filePath(QStringLiteral("ours.png"));
    const QString ffmpegFile = dir.filePath(QStringLiteral("ffmpeg.png"));
    const QString magickFile = dir.filePath(QStringLiteral("magick.png"));
    const QString magickOfOurs = dir.filePath(QStringLiteral("magick-of-ours.png"));
    std::printf("\nPNG output of the JPEG pair, %d runs each, alternating\n", runs);
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    std::vector<QStringList> commands{{tool, kModeOption, kAverage, left, right, ours}};
    if (!ffmpeg.isEmpty())
        commands.push_back({ffmpeg, QStringLiteral("-v"), QStringLiteral("error"),
                            QStringLiteral("-y"), QStringLiteral("-i"), left, QStringLiteral("-i"),
                            right, QStringLiteral("-filter_complex"),
                            QStringLiteral("blend=all_mode=average"), QStringLiteral("-frames:v"),
                            QStringLiteral("1"), ffmpegFile});
    if (!convert.isEmpty())
        commands.push_back({convert, left, right, QStringLiteral("-evaluate-sequence"),
                            QStringLiteral("mean"), magickFile});
    const std::vector<Figures> figures = timeCommands(runs, commands);
    const auto megabytes = [](const QString &file) { return double(QFileInfo(file).size()) / 1e6; };
    printRow("duoptica-combine L.jpg R.jpg out.png", figures[0]);
    std::printf("  %-44s %.2f MB\n", "", megabytes(ours));
    std::size_t next = 1;
    if (!ffmpeg.isEmpty()) {
        printRow("ffmpeg -filter_complex blend=average", figures[next]);
        std::printf("  %-44s %.2f MB; duoptica-combine takes %.2fx its time, %.3fx its size\n", "",
                    megabytes(ffmpegFile), figures[0].medianSeconds / figures[next].medianSeconds,
                    megabytes(ours) / megabytes(ffmpegFile));
        ++next;
    } else {
        std::printf("  ffmpeg not found: comparison skipped\n");
    }
    if (convert.isEmpty()) {
        std::printf("  ImageMagick's convert not found: comparison skipped\n");
        return;
    }
    printRow("convert -evaluate-sequence mean", figures[next]);
    std::printf("  %-44s %.2f MB; duoptica-combine takes %.2fx its time, %.3fx its size\n", "",
                megabytes(magickFile), figures[0].medianSeconds / figures[next].medianSeconds,
                megabytes(ours) / megabytes(magickFile));
    std::printf("  %-44s %.1f %% of its pixels differ from ours\n", "",
                100 * differingShare(ours, magickFile));
    const ProcessRun reencoded = runProcess({convert, ours, magickOfOurs});
    std::printf("  %-44s %.2f MB in %.3f s; ours is %.3fx its size\n",
                "convert out.png: ImageMagick's PNG of ours", megabytes(magickOfOurs),
                reencoded.seconds, megabytes(ours) / megabytes(magickOfOurs));
}

void benchBatch(const QString &tool, const QDir &dir, int pairs, int runs) {
    QDir(dir.path()).mkpath(QStringLiteral("batch-in"));
    const QDir in(dir.filePath(QStringLiteral("batch-in")));
    QStringList oneByOne;
    for (int i = 0; i < pairs; ++i) {
        const QString name = QStringLiteral("pair%1").arg(i, 2, 10, QChar(u'0'));
        // Links: the pairs cost no disk space, and every read still decodes a whole file.
        QFile::link(dir.filePath(QStringLiteral("L.bmp")), in.filePath(name + "_L.bmp"));
        QFile::link(dir.filePath(QStringLiteral("R.bmp")), in.filePath(name + "_R.bmp"));
        oneByOne << QStringLiteral("\"%1\" --mode normal \"%2\" \"%3\" \"%4\"")
                        .arg(tool, in.filePath(name + "_L.bmp"), in.filePath(name + "_R.bmp"),
                             dir.filePath(QStringLiteral("single-") + name + ".bmp"));
    }
    std::printf("\nA batch of %d pairs against the same pairs one command at a time, %d runs "
                "each\n",
                pairs, runs);
    const std::vector<Figures> figures =
        timeCommands(runs, {{tool, kModeOption, kAverage, QStringLiteral("--batch"), in.path(),
                             dir.filePath(QStringLiteral("batch-out"))},
                            {QStringLiteral("sh"), QStringLiteral("-ec"), oneByOne.join(u'\n')}});
    printRow("duoptica-combine --batch", figures[0]);
    printRow("duoptica-combine once per pair", figures[1]);
    std::printf("  %-44s %.2fx faster than one by one\n", "the batch",
                figures[1].medianSeconds / figures[0].medianSeconds);
}

// A batch of JPEG pairs on this machine's disk and on slow ones: one whose syncs keep the cores
// waiting (each output's sync about a third of its pair's time on one core), one that is itself
// the bottleneck (two thirds). Wall time against the codec floor and, on a slow disk, against the
// floor of both; processor time (user + system) against wall time, which shows cores left idle
// while outputs are synced. An earlier build, when given, runs in turn with this one.
void benchBatchSync(const QString &tool, const QString &earlierTool, const QDir &dir, int pairs,
                    int runs) {
    const std::array<double, 3> kDiskMBPerSecond{0, 80, 40}; // 0: this machine's disk
    // Enough pairs that the batch runs mostly in its steady state, not in its start and end, and
    // runs enough for a median on a busy machine.
    pairs = std::max(pairs, 8);
    runs = std::max(runs, 5);
    QDir(dir.path()).mkpath(QStringLiteral("sync-in"));
    const QDir in(dir.filePath(QStringLiteral("sync-in")));
    for (int i = 0; i < pairs; ++i) {
        const QString name = QStringLiteral("pair%1").arg(i, 2, 10, QChar(u'0'));
        QFile::link(dir.filePath(QStringLiteral("L.jpg")), in.filePath(name + "_L.jpg"));
        QFile::link(dir.filePath(QStringLiteral("R.jpg")), in.filePath(name + "_R.jpg"));
    }
    const QString out = dir.filePath(QStringLiteral("sync-out"));
    std::vector<QStringList> commands{codecFloorCommand(in)};
    std::vector<QByteArray> what{"codec floor over all cores"};
    std::vector<double> rates{0};
    for (const QString &build : {tool, earlierTool}) {
        if (build.isEmpty())
            continue;
        const QStringList batch{build,
                                kModeOption,
                                kAverage,
                                QStringLiteral("--format"),
                                QStringLiteral("jpg"),
                                QStringLiteral("--batch"),
                                in.path(),
                                out};
        const QByteArray name = build == tool ? QByteArray("batch") : QByteArray("earlier build");
        for (const double rate : kDiskMBPerSecond) {
            if (rate == 0) {
                commands.push_back(batch);
                what.push_back(name + ", this machine's disk");
            } else {
                commands.push_back(
                    QStringList{QStringLiteral("env"),
                                QStringLiteral("LD_PRELOAD=") + QStringLiteral(SLOW_DISK_PRELOAD),
                                QStringLiteral("SLOW_DISK_MB_PER_S=%1").arg(rate)} +
                    batch);
                what.push_back(name +
                               QStringLiteral(", a disk syncing %1 MB/s").arg(rate).toUtf8());
            }
            rates.push_back(rate);
        }
    }
    const std::vector<Figures> figures = timeCommands(runs, commands);
    qint64 outputBytes = 0;
    for (const QFileInfo &output : QDir(out).entryInfoList(QDir::Files))
        outputBytes += output.size();
    const double floorSeconds = figures[0].medianSeconds;
    const double onePairOnOneCore = figures[0].medianCpuSeconds / pairs;

    std::printf("\nA batch of %d JPEG pairs into JPEG (%.1f MB of outputs) while outputs are "
                "synced, %d runs each, alternating, %d cores\n",
                pairs, double(outputBytes) / 1e6, runs, QThread::idealThreadCount());
    for (std::size_t c = 0; c < commands.size(); ++c) {
        const double seconds = figures[c].medianSeconds;
        std::printf("  %-44s median %6.3f s (%.3f to %.3f), user+sys %6.3f s: %.2f cores busy",
                    what[c].constData(), seconds, figures[c].minSeconds, figures[c].maxSeconds,
                    figures[c].medianCpuSeconds, figures[c].medianCpuSeconds / seconds);
        if (c > 0)
            std::printf("; %.2fx the codec floor", seconds / floorSeconds);
        if (rates[c] > 0) {
            // The cores and the disk can overlap but for one pair: the disk has nothing to sync
            // before the first output is made, and the last output is synced after the cores
            // are done.
            const double diskSeconds = double(outputBytes) / (rates[c] * 1e6);
            const double bothFloor =
                std::max(floorSeconds + diskSeconds / pairs, diskSeconds + onePairOnOneCore);
            std::printf(", %.2fx the floor of both (%.2f s; the disk alone %.2f s)",
                        seconds / bothFloor, bothFloor, diskSeconds);
        }
        if (figures[c].exitCode != 0)
            std::printf("  EXIT STATUS %d", figures[c].exitCode);
        std::printf("\n");
    }
    if (commands.size() == 1 + 2 * kDiskMBPerSecond.size()) {
        std::printf("  the earlier build's time over this build's:");
        for (std::size_t r = 0; r < kDiskMBPerSecond.size(); ++r)
            std::printf(" %.2fx (%s)",
                        figures[1 + r + kDiskMBPerSecond.size()].medianSeconds /
                            figures[1 + r].medianSeconds,
                        r == 0 ? "this machine's disk"
                               : qPrintable(QStringLiteral("%1 MB/s").arg(kDiskMBPerSecond[r])));
        std::printf("\n");
    }
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Prints duoptica-combine's speed figures."));
    parser.addHelpOption();
    const QCommandLineOption width(QStringLiteral("width"), QStringLiteral("Picture width."),
                                   QStringLiteral("pixels"), QStringLiteral("6000"));
    const QCommandLineOption height(QStringLiteral("height"), QStringLiteral("Picture height."),
                                    QStringLiteral("pixels"), QStringLiteral("4000"));
    const QCommandLineOption runs(QStringLiteral("runs"), QStringLiteral("Timed runs of each."),
                                  QStringLiteral("count"), QStringLiteral("5"));
    const QCommandLineOption pairs(QStringLiteral("pairs"), QStringLiteral("Pairs in the batch."),
                                   QStringLiteral("count"), QStringLiteral("20"));
    const QCommandLineOption tool(QStringLiteral("tool"),
                                  QStringLiteral("duoptica-combine to run."),
                                  QStringLiteral("path"), QStringLiteral(DUOPTICA_COMBINE));
    const QCommandLineOption codecFloor(
        QStringLiteral("codec-floor"),
        QStringLiteral("Only decode the JPEG pairs in the folder and encode one picture each."),
        QStringLiteral("folder"));
    const QCommandLineOption earlierTool(
        QStringLiteral("batch-sync-against"),
        QStringLiteral("An earlier duoptica-combine, run in turn with --tool in the batch whose "
                       "outputs are synced."),
        QStringLiteral("path"));
    parser.addOptions({width, height, runs, pairs, tool, codecFloor, earlierTool});
    parser.process(app);
    if (parser.isSet(codecFloor))
        return runCodecFloor(QDir(parser.value(codecFloor)));
    const int runCount = std::max(1, parser.value(runs).toInt());

    const int pictureWidth = parser.value(width).toInt();
    const int pictureHeight = parser.value(height).toInt();
    QTemporaryDir dir;
    // The pictures are made one at a time and let go before any command runs, so that this
    // process stays small beside the commands it measures.
    for (const auto &[name, seed] : {std::pair{"L.bmp", 1u}, std::pair{"R.bmp", 2u}}) {
        if (!randomPicture(pictureWidth, pictureHeight, seed).save(dir.filePath(name))) {
            std::fprintf(stderr, "cannot write the pictures into %s\n", qPrintable(dir.path()));
            return 1;
        }
    }
    for (const auto &[name, seed] : {std::pair{"L.jpg", 1u}, std::pair{"R.jpg", 2u}}) {
        if (!photoLikePicture(pictureWidth, pictureHeight, seed)
                 .save(dir.filePath(name), nullptr, duoptica::kDefaultJpegQuality)) {
            std::fprintf(stderr, "cannot write the pictures into %s\n", qPrintable(dir.path()));
            return 1;
        }
    }
    benchWholeRuns(parser.value(tool), QDir(dir.path()), runCount);
    benchBatch(parser.value(tool), QDir(dir.path()), parser.value(pairs).toInt(),
               std::max(1, runCount / 2));
    benchJpegRuns(parser.value(tool), QDir(dir.path()), runCount);
    benchJpegBatch(parser.value(tool), QDir(dir.path()), parser.value(pairs).toInt(),
                   std::max(1, runCount / 2));
    benchBatchSync(parser.value(tool), parser.value(earlierTool), QDir(dir.path()),
                   parser.value(pairs).toInt(), std::max(1, runCount / 2));
    benchSideBySide(parser.value(tool), QDir(dir.path()), runCount);
    benchPngOutput(parser.value(tool), QDir(dir.path()), runCount);
    benchCombineStep(randomPicture(pictureWidth, pictureHeight, 1),
                     randomPicture(pictureWidth, pictureHeight, 2), runCount);
    return 0;
}
