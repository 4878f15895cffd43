// Prints how long --align takes on a 24-megapixel pair (6000 x 4000), made up of textured planes
// at known depths, with and without a keystone to correct, and with --picture FILE writes an
// unaligned and an aligned red-blue anaglyph of a smaller such pair side by side.
#include "align_stage.h"
#include "combine_pictures.h"
#include "synthetic_stereo.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

constexpr synthetic::EyeError kError{1.5, 1.02, 6};

void writePicture(const QString &file) {
    const synthetic::Scene scene({720, 480});
    const QImage left = scene.left();
    // A larger error than the timed pair's, so that the ghosting shows at this size.
    const QImage right = scene.right({3, 1.03, 10});
    const QImage before = duoptica::combinePictures(left, right, duoptica::AnaglyphMethod::RedBlue);
    QImage alignedLeft = left, alignedRight = right;
    QString refusal;
    if (!duoptica::alignEyes(alignedLeft, alignedRight, {}, &refusal)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(file), qPrintable(refusal));
        return;
    }
    const QImage after =
        duoptica::combinePictures(alignedLeft, alignedRight, duoptica::AnaglyphMethod::RedBlue);
    constexpr int kGap = 16;
    QImage sideBySide(before.width() + kGap + after.width(), before.height(), QImage::Format_RGB32);
    sideBySide.fill(Qt::white);
    QPainter painter(&sideBySide);
    painter.drawImage(0, 0, before);
    painter.drawImage(before.width() + kGap, (before.height() - after.height()) / 2, after);
    painter.end();
    if (!sideBySide.save(file))
        std::fprintf(stderr, "%s: cannot write\n", qPrintable(file));
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 3 && arguments[1] == u"--picture") {
        writePicture(arguments[2]);
        return 0;
    }

    std::printf("making a 6000 x 4000 pair (not timed)...\n");
    const synthetic::Scene scene({6000, 4000});
    const QImage left = scene.left();
    synthetic::EyeError toedIn = kError;
    toedIn.toeInDegrees = 1.5;
    const struct {
        const char *name;
        QImage right;
    } pairs[] = {{"turned, scaled and moved", scene.right(kError)},
                 {"the same and toed in 1.5 degrees", scene.right(toedIn)}};
    for (const auto &pair : pairs) {
        std::vector<double> seconds, processor;
        for (int run = 0; run < 3; ++run) {
            QImage l = left, r = pair.right;
            QString refusal;
            QElapsedTimer timer;
            timer.start();
            const std::clock_t started = std::clock();
            const auto summary = duoptica::alignEyes(l, r, {}, &refusal);
            seconds.push_back(timer.nsecsElapsed() / 1e9);
            processor.push_back(double(std::clock() - started) / CLOCKS_PER_SEC);
            if (!summary) {
                std::printf("%s: refused: %s\n", pair.name, qPrintable(refusal));
                return 1;
            }
            if (run == 0)
                for (const QString &line : duoptica::alignmentReport(*summary, true))
                    std::printf("%s\n", qPrintable(line));
        }
        std::sort(seconds.begin(), seconds.end());
        std::sort(processor.begin(), processor.end());
        std::printf("aligning a 24-megapixel pair, %s (fit, warp and crop): median %.3f s, best "
                    "%.3f s of %zu runs; processor time median %.3f s\n",
                    pair.name, seconds[seconds.size() / 2], seconds.front(), seconds.size(),
                    processor[processor.size() / 2]);
    }
    return 0;
}
