// Time and peak memory to load a 6000 × 4000 camera-sized JPEG into a surface-sized area, with
// the clip rectangle (only the rows shown are decoded) and without it (the whole picture is
// decoded, then cut). Each load runs in a child process of its own, so that its peak resident
// size is its own; "start-up only" is what a child takes before it loads anything. Run:
// bench_load_jpeg [repeats]
#include "picture_file.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <random>

namespace {

constexpr QSize kSurface(600, 384);

// The process's own high-water mark. Unlike getrusage()'s ru_maxrss, which a child inherits
// from its parent across exec, VmHWM starts afresh with the new program.
long peakResidentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// Gradients with fine noise, so the file is about as hard to decode as a photograph.
QImage photograph(QSize size) {
    std::mt19937 random(7);
    QImage picture(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const int noise = int(random() % 33) - 16;
            line[x] = qRgb(std::clamp(x * 255 / size.width() + noise, 0, 255),
                           std::clamp(y * 255 / size.height() + noise, 0, 255),
                           std::clamp((x + y) % 256 + noise, 0, 255));
        }
    }
    return picture;
}

// In the child: one load, then "milliseconds peak-KiB" on stdout.
int loadOnce(const QString &path, const QString &kind) {
    QImageReader::setAllocationLimit(duoptica::kImageAllocationLimitMiB);
    duoptica::LoadLimits limits;
    if (kind == QLatin1String("clip"))
        limits.visibleArea = kSurface;
    QElapsedTimer timer;
    timer.start();
    if (kind != QLatin1String("none")) {
        const duoptica::PictureLoad load = duoptica::LoadPicture(path, limits);
        if (!load.error.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(load.error));
            return 1;
        }
    }
    std::printf("%lld %ld\n", timer.elapsed(), peakResidentKiB());
    return 0;
}

struct Figures {
    qint64 milliseconds = 0;
    long peakKiB = 0;
};

Figures runChild(const QString &path, const char *kind) {
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--child"), path, QString::fromLatin1(kind)});
    child.waitForFinished(-1);
    const QList<QByteArray> fields = child.readAllStandardOutput().simplified().split(' ');
    if (child.exitCode() != 0 || fields.size() != 2)
        qFatal("the child failed: %s", child.readAllStandardError().constData());
    return {fields[0].toLongLong(), fields[1].toLong()};
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 4 && args[1] == QLatin1String("--child"))
        return loadOnce(args[2], args[3]);
    const int repeats = args.size() > 1 ? std::max(1, args[1].toInt()) : 5;

    QTemporaryDir dir;
    const QImage picture = photograph({6000, 4000});
    for (const bool progressive : {false, true}) {
        const QString path = dir.filePath(progressive ? QStringLiteral("progressive.jpg")
                                                      : QStringLiteral("baseline.jpg"));
        QImageWriter writer(path, "JPEG");
        writer.setQuality(90);
        writer.setProgressiveScanWrite(progressive);
        if (!writer.write(picture))
            qFatal("cannot write %s", qPrintable(path));
        std::printf("%s JPEG, 6000 x 4000, %.1f MB; median of %d runs, peak RSS of the process\n",
                    progressive ? "progressive" : "baseline", QFileInfo(path).size() / 1e6,
                    repeats);
        for (const char *kind : {"none", "clip", "whole"}) {
            QList<Figures> runs;
            for (int i = 0; i < repeats; ++i)
                runs << runChild(path, kind);
            std::sort(runs.begin(), runs.end(), [](const Figures &a, const Figures &b) {
                return a.milliseconds < b.milliseconds;
            });
            long peak = 0;
            for (const Figures &run : runs)
                peak = std::max(peak, run.peakKiB);
            const char *label = kind == QLatin1String("none")   ? "start-up only, no load"
                                : kind == QLatin1String("clip") ? "clipped to 600 x 384"
                                                                : "whole picture";
            std::printf("  %-24s %6lld ms  %7.1f MiB\n", label, runs[runs.size() / 2].milliseconds,
                        peak / 1024.0);
        }
    }
    return 0;
}
