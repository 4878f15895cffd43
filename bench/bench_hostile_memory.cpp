// Peak memory of duoptica-combine on small hostile files (headers that claim far more pixels than
// their data holds) and on a legitimate pair through each path, so that the memory a worker needs
// can be told from the megapixels it is allowed.
#include "process_run.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

QImage smooth(QSize size) {
    QImage picture(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            row[x] = qRgb(x * 255 / size.width(), y * 255 / size.height(), (x + y) & 0xFF);
    }
    return picture;
}

QByteArray jpeg(const QImage &picture, bool progressive) {
    QBuffer buffer;
    QImageWriter writer(&buffer, "JPEG");
    writer.setProgressiveScanWrite(progressive);
    writer.write(picture);
    return buffer.data();
}

// The JPEG with its frame header claiming width x height.
QByteArray claiming(QByteArray bytes, int width, int height) {
    qsizetype frame = bytes.indexOf("\xFF\xC0");
    if (frame < 0)
        frame = bytes.indexOf("\xFF\xC2");
    bytes[frame + 5] = char(height >> 8);
    bytes[frame + 6] = char(height & 0xFF);
    bytes[frame + 7] = char(width >> 8);
    bytes[frame + 8] = char(width & 0xFF);
    return bytes;
}

QByteArray upToScanData(const QByteArray &bytes) {
    const qsizetype scan = bytes.indexOf("\xFF\xDA");
    const int length = quint8(bytes[scan + 2]) << 8 | quint8(bytes[scan + 3]);
    return bytes.left(scan + 2 + length);
}

QString write(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes) {
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void report(const QString &program, const QString &what, const QString &input, qint64 bytes,
            const QString &second, const QString &output) {
    const ProcessRun run = runProcess({program, input, second, output}, ChildErrors::Hidden);
    std::printf("%-58s %9lld B  -> %-4s status %3d  peak %7.1f MiB\n", qPrintable(what),
                static_cast<long long>(bytes), qPrintable(output.section(u'.', -1)), run.exitCode,
                double(run.peakKiB) / 1024);
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    // Another build of the program may be measured: give its path first.
    const QStringList arguments = app.arguments();
    const QString program = arguments.size() > 1 ? arguments[1] : QStringLiteral(DUOPTICA_COMBINE);
    const int megapixels = arguments.size() > 2 ? arguments[2].toInt() : 24;
    QTemporaryDir dir;

    const QImage photo = smooth({640, 480});
    const QByteArray baseline = jpeg(photo, false);
    const QByteArray progressive = jpeg(photo, true);
    QImage blank(10000, 10000, QImage::Format_Mono);
    blank.fill(0);
    QBuffer png;
    blank.save(&png, "PNG");
    const struct {
        const char *what;
        QByteArray bytes;
        const char *name;
    } hostile[] = {
        {"JPEG header claiming 10000 x 10000, no scan data",
         claiming(upToScanData(baseline), 10000, 10000), "noscan.jpg"},
        {"progressive JPEG claiming 10000 x 10000",
         claiming(progressive.left(4300) + "\xFF\xD9", 10000, 10000), "progressive.jpg"},
        {"JPEG claiming 10000 x 10000, scan stopped, end marker",
         claiming(baseline.left(4800) + "\xFF\xD9", 10000, 10000), "stopped.jpg"},
        {"1-bit PNG of 10000 x 10000", png.data(), "blank.png"},
    };
    std::printf("%s\nsmall hostile files, each as both eyes:\n", qPrintable(program));
    for (const auto &file : hostile) {
        const QString path = write(dir, QString::fromLatin1(file.name), file.bytes);
        for (const char *output : {"out.bmp", "out.jpg"})
            report(program, QString::fromLatin1(file.what), path, file.bytes.size(), path,
                   dir.filePath(QString::fromLatin1(output)));
    }

    // A legitimate pair of the size asked, through the direct, streamed and general paths.
    const int width = int(std::lround(std::sqrt(megapixels * 1e6 * 4 / 3)));
    const QSize size(width, width * 3 / 4);
    std::printf("a %d x %d pair (%.1f megapixels) through each path:\n", size.width(),
                size.height(), size.width() * double(size.height()) / 1e6);
    const struct {
        const char *what;
        const char *format;
        const char *output;
    } paths[] = {{"BMP pair into BMP (direct)", "BMP", "out.bmp"},
                 {"JPEG pair into JPEG (streamed)", "JPEG", "out.jpg"},
                 {"PNG pair into PNG (whole pictures)", "PNG", "out.png"}};
    for (const auto &path : paths) {
        const QString leftFile = dir.filePath(QStringLiteral("l.") + path.format);
        const QString rightFile = dir.filePath(QStringLiteral("r.") + path.format);
        {
            // Gone before the run: a forked child counts the pages it shares with this process.
            const QImage left = smooth(size);
            if (!left.save(leftFile, path.format) ||
                !left.mirrored(true, false).save(rightFile, path.format))
                qFatal("cannot write the pair");
        }
        report(program, QString::fromLatin1(path.what), leftFile, QFile(leftFile).size(), rightFile,
               dir.filePath(QString::fromLatin1(path.output)));
    }
    return 0;
}
