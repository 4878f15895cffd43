// Prints how well --match-colors evens out a made-up mismatched pair (means, histogram
// distances, the change to a pair that differs only by disparity), how long it and --max-size
// take on a 6000 x 4000 pair, and the peak memory of duoptica-combine on a 24-megapixel JPEG
// pair with and without them. With --picture FILE it writes the before and after picture of
// docs/alignment.md.
#include "color_match_stage.h"
#include "colour_pairs.h"
#include "process_run.h"
#include "resize_stage.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// The mismatch: gamma 1.3, gain 1.15, red x 0.92, blue x 1.08.
const colourpairs::ColourError kMismatch{1.3, 1.15, {0.92, 1, 1.08}};
constexpr int kDisparity = 20;

void printTargets(QSize size) {
    colourpairs::Pair pair = colourpairs::shiftedPair(size, kDisparity, kMismatch);
    std::array<colourpairs::Histogram, 3> leftBefore, rightBefore;
    for (int c = 0; c < 3; ++c) {
        leftBefore[c] = colourpairs::histogram(pair.left, pair.leftShared, c);
        rightBefore[c] = colourpairs::histogram(pair.right, pair.rightShared, c);
    }
    duoptica::ChannelCurves curves;
    duoptica::matchEyeColors(pair.left, pair.right, false, &curves);
    std::printf("%d x %d pair, right eye shifted %d px, gamma 1.3, gain 1.15, red x 0.92, "
                "blue x 1.08; over the area both eyes show:\n",
                size.width(), size.height(), kDisparity);
    std::printf("  channel  mean difference before -> after   earth mover's before -> after   "
                "drop\n");
    const char *const names[] = {"red", "green", "blue"};
    for (int c = 0; c < 3; ++c) {
        const colourpairs::Histogram left = colourpairs::histogram(pair.left, pair.leftShared, c);
        const colourpairs::Histogram right =
            colourpairs::histogram(pair.right, pair.rightShared, c);
        const double before = colourpairs::earthMovers(leftBefore[c], rightBefore[c]);
        const double after = colourpairs::earthMovers(left, right);
        std::printf("  %-7s  %8.2f -> %5.2f levels            %8.2f -> %5.2f levels         "
                    "%5.1f %%\n",
                    names[c],
                    std::abs(colourpairs::mean(leftBefore[c]) - colourpairs::mean(rightBefore[c])),
                    std::abs(colourpairs::mean(left) - colourpairs::mean(right)), before, after,
                    100 * (1 - after / before));
    }
    std::printf("  %s\n", qPrintable(duoptica::colorMatchReport(curves)));

    colourpairs::Pair same = colourpairs::shiftedPair(size, kDisparity, {});
    const QImage untouched = same.right;
    duoptica::matchEyeColors(same.left, same.right, false, &curves);
    std::printf("the same pair without the colour mismatch: the right eye changes by %.3f "
                "levels on average\n",
                colourpairs::meanChange(untouched, same.right));
}

template <typename Work> double medianSeconds(Work work) {
    std::vector<double> seconds;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        work();
        seconds.push_back(double(timer.nsecsElapsed()) / 1e9);
    }
    std::sort(seconds.begin(), seconds.end());
    return seconds[1];
}

void printTimings(const colourpairs::Pair &pair) {
    const double matching = medianSeconds([&] {
        QImage left = pair.left, right = pair.right;
        duoptica::ChannelCurves curves;
        duoptica::matchEyeColors(left, right, false, &curves);
    });
    const double resizing = medianSeconds([&] {
        QImage left = pair.left, right = pair.right;
        duoptica::resizeEyes(left, right,
                             {.kind = duoptica::EyeSize::Kind::LongerSide, .longerSide = 1600});
    });
    std::printf("6000 x 4000 pair, median of 3:\n  --match-colors (shift, histograms, curves "
                "applied)  %.3f s\n  --max-size 1600 (both eyes)                         %.3f s\n",
                matching, resizing);
}

void printMemory() {
    QTemporaryDir dir;
    const QString left = dir.filePath("left.jpg"), right = dir.filePath("right.jpg");
    {
        // Let go of the pictures before the tool runs: a forked child's peak counts the pages
        // it shares with this process until it execs.
        const colourpairs::Pair pair =
            colourpairs::shiftedPair({6000, 4000}, kDisparity, kMismatch);
        if (!pair.left.save(left, "JPEG", 90) || !pair.right.save(right, "JPEG", 90)) {
            std::printf("cannot write the JPEG pair\n");
            return;
        }
    }
    const QString tool = QStringLiteral(DUOPTICA_COMBINE);
    struct Case {
        const char *what;
        QStringList options;
        const char *output;
    };
    const Case cases[] = {
        {"JPEG, unresized (streamed)", {}, "out.jpg"},
        {"PNG, unresized (whole pictures)", {}, "out.png"},
        {"JPEG, --max-size 1600", {"--max-size", "1600"}, "out.jpg"},
        {"JPEG, --match-colors", {"--match-colors"}, "out.jpg"},
        {"JPEG, --match-colors --max-size 1600",
         {"--match-colors", "--max-size", "1600"},
         "out.jpg"},
    };
    std::printf("duoptica-combine on a 6000 x 4000 JPEG pair (best of 2 runs, peak memory):\n");
    for (const Case &c : cases) {
        ProcessRun best;
        for (int run = 0; run < 2; ++run) {
            // The average, as the figures in docs/alignment.md were taken.
            const ProcessRun r =
                runProcess(QStringList{tool, "--mode", "normal"} << c.options << left << right
                                                                 << dir.filePath(c.output),
                           ChildErrors::Hidden);
            if (best.seconds < 0 || r.seconds < best.seconds)
                best = r;
        }
        std::printf("  into %-40s %6.2f s  peak %6.1f MiB%s\n", c.what, best.seconds,
                    double(best.peakKiB) / 1024, best.exitCode == 0 ? "" : "  FAILED");
    }
}

// Both eyes side by side, before and after: the right eye brighter, warmer and of another
// gamma, then matched.
void writePicture(const QString &file) {
    colourpairs::Pair pair = colourpairs::shiftedPair({360, 240}, kDisparity, kMismatch);
    const QImage before = pair.right;
    duoptica::ChannelCurves curves;
    duoptica::matchEyeColors(pair.left, pair.right, false, &curves);
    constexpr int kGap = 8;
    QImage grid(2 * 360 + kGap, 2 * 240 + kGap, QImage::Format_RGB32);
    grid.fill(Qt::white);
    QPainter painter(&grid);
    painter.drawImage(0, 0, pair.left);
    painter.drawImage(360 + kGap, 0, before);
    painter.drawImage(0, 240 + kGap, pair.left);
    painter.drawImage(360 + kGap, 240 + kGap, pair.right);
    painter.end();
    if (!grid.save(file))
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
    printTargets({1600, 1067});
    std::printf("making a 6000 x 4000 pair (not timed)...\n");
    printTimings(colourpairs::shiftedPair({6000, 4000}, kDisparity, kMismatch));
    printMemory();
    return 0;
}
