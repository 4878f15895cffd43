// Prints how close duoptica-combine's lossy outputs stay to their pixels on a made-up photograph:
// the red channel of a --mode color anaglyph JPEG at 4:4:4 against the same pixels at Qt's 4:2:0,
// and the wiggle GIF against ImageMagick's GIF of the same eyes, as PSNR in dB. It measures and
// prints; it judges nothing.
#include "photo_like_picture.h"
#include "process_run.h"

#include <QCoreApplication>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

// PSNR over the channels chosen (a function of a pixel giving a channel), of b against a.
double psnr(const QImage &a, const QImage &b,
            const std::vector<std::function<int(QRgb)>> &channels) {
    if (a.size() != b.size())
        return -1;
    double squares = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            for (const auto &channel : channels) {
                const double d = channel(a.pixel(x, y)) - channel(b.pixel(x, y));
                squares += d * d;
            }
    const double mean = squares / (double(a.width()) * a.height() * double(channels.size()));
    return mean == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mean);
}

const std::vector<std::function<int(QRgb)>> kRgb{[](QRgb p) { return qRed(p); },
                                                 [](QRgb p) { return qGreen(p); },
                                                 [](QRgb p) { return qBlue(p); }};
const std::vector<std::function<int(QRgb)>> kRed{[](QRgb p) { return qRed(p); }};

// Both frames of an animation against the eyes, as one picture.
double animationPsnr(const QString &file, const QImage &left, const QImage &right) {
    QImageReader reader(file);
    const QImage first = reader.read().convertToFormat(QImage::Format_RGB32);
    const QImage second = reader.read().convertToFormat(QImage::Format_RGB32);
    return (psnr(left, first, kRgb) + psnr(right, second, kRgb)) / 2;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const auto file = [&](const char *name) { return dir.filePath(QLatin1StringView(name)); };
    const QSize size(1200, 800);
    const QImage left = photoLikePicture(size.width(), size.height(), 1);
    const QImage right = photoLikePicture(size.width(), size.height(), 2);
    if (!left.save(file("left.png")) || !right.save(file("right.png"))) {
        std::fprintf(stderr, "cannot write the pair\n");
        return 1;
    }
    const QString tool = QStringLiteral(DUOPTICA_COMBINE);
    const QStringList eyes{file("left.png"), file("right.png")};
    const auto run = [](const QStringList &command) {
        const ProcessRun done = runProcess(command);
        if (done.exitCode != 0)
            std::fprintf(stderr, "%s: exit status %d\n", qPrintable(command.join(u' ')),
                         done.exitCode);
        return done.exitCode == 0;
    };

    std::printf("Two %d x %d photo-like eyes\n", size.width(), size.height());
    // The anaglyph's exact pixels, losslessly, and as JPEG both ways.
    if (run(QStringList{tool, "--mode", "color"} + eyes + QStringList{file("exact.png")}) &&
        run(QStringList{tool, "--mode", "color", "--quality", "95"} + eyes +
            QStringList{file("anaglyph.jpg")})) {
        const QImage exact(file("exact.png"));
        exact.save(file("qt420.jpg"), "JPEG", 95);
        const QImage full(file("anaglyph.jpg"));
        const QImage half(file("qt420.jpg"));
        std::printf("--mode color --quality 95, red channel (the left eye):\n");
        std::printf("  4:4:4 (written)       %6.2f dB   all channels %6.2f dB\n",
                    psnr(exact, full, kRed), psnr(exact, full, kRgb));
        std::printf("  4:2:0 (Qt's writer)   %6.2f dB   all channels %6.2f dB\n",
                    psnr(exact, half, kRed), psnr(exact, half, kRgb));
    }
    std::printf("Wiggle GIF, both frames against the eyes:\n");
    if (run(QStringList{tool, "--to", "wiggle"} + eyes + QStringList{file("wiggle.gif")}))
        std::printf("  duoptica-combine      %6.2f dB\n",
                    animationPsnr(file("wiggle.gif"), left, right));
    {
        // What the GIF had before: Qt's dithering onto its fixed colour cube, both frames as one.
        QImage both(size.width(), 2 * size.height(), QImage::Format_RGB32);
        for (int y = 0; y < size.height(); ++y) {
            std::copy_n(left.constScanLine(y), 4 * size.width(), both.scanLine(y));
            std::copy_n(right.constScanLine(y), 4 * size.width(), both.scanLine(size.height() + y));
        }
        const QImage cube = both.convertToFormat(QImage::Format_Indexed8, Qt::DiffuseDither)
                                .convertToFormat(QImage::Format_RGB32);
        const int h = size.height();
        std::printf("  Qt's colour cube      %6.2f dB\n",
                    (psnr(left, cube.copy(0, 0, size.width(), h), kRgb) +
                     psnr(right, cube.copy(0, h, size.width(), h), kRgb)) /
                        2);
    }
    if (run(QStringList{"convert"} + eyes + QStringList{"-loop", "0", file("magick.gif")}))
        std::printf("  ImageMagick convert   %6.2f dB\n",
                    animationPsnr(file("magick.gif"), left, right));
    return 0;
}
