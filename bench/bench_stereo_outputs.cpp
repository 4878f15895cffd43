// Prints how fast duoptica-combine writes stereo outputs from a pair of 6000 x 4000 JPEG eyes:
// the lossless MPO against cp of the same bytes, the Dubois anaglyph into PNG, the packed layouts
// and the re-encoded MPO against the anaglyph of the same pair into JPEG, and web-sized outputs
// beside vips and ImageMagick where they are installed, with peak memory and output size. Another
// build of the program may be given on the command line. It measures and prints; it judges nothing.
#include "photo_like_picture.h"
#include "process_run.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

struct Row {
    const char *what;
    QStringList command;
    QString output; // whose size is printed
};

// Runs the rows in turn, a b c a b c ..., so that a drift in the machine's speed hits all alike,
// and prints each one's median, with its ratio to the reference row.
void timeRows(const std::vector<Row> &rows, int runs, std::size_t reference) {
    std::vector<std::vector<double>> seconds(rows.size());
    std::vector<long> peaks(rows.size(), 0);
    std::vector<int> exits(rows.size(), 0);
    for (int i = -1; i < runs; ++i) // run -1 is a warm-up
        for (std::size_t r = 0; r < rows.size(); ++r) {
            const ProcessRun run = runProcess(rows[r].command, ChildErrors::Hidden);
            exits[r] = std::max(exits[r], run.exitCode);
            if (i >= 0) {
                seconds[r].push_back(run.seconds);
                peaks[r] = std::max(peaks[r], run.peakKiB);
            }
        }
    std::vector<double> medians;
    for (std::vector<double> &s : seconds) {
        std::sort(s.begin(), s.end());
        medians.push_back(s[s.size() / 2]);
    }
    for (std::size_t r = 0; r < rows.size(); ++r) {
        std::printf("  %-40s median %7.3f s  %5.2fx  peak %7.1f MiB  output %7.2f MB", rows[r].what,
                    medians[r], medians[r] / medians[reference], double(peaks[r]) / 1024,
                    double(QFileInfo(rows[r].output).size()) / 1e6);
        if (exits[r] != 0)
            std::printf("  EXIT STATUS %d", exits[r]);
        std::printf("\n");
    }
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const int runs = 3;
    QTemporaryDir dir;
    const QString left = dir.filePath(QStringLiteral("left.jpg"));
    const QString right = dir.filePath(QStringLiteral("right.jpg"));
    if (!photoLikePicture(6000, 4000, 1).save(left, "JPEG", 90) ||
        !photoLikePicture(6000, 4000, 2).save(right, "JPEG", 90)) {
        std::fprintf(stderr, "cannot write the pair\n");
        return 1;
    }
    const QString tool =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(DUOPTICA_COMBINE);
    const auto out = [&](const char *name) { return dir.filePath(QLatin1StringView(name)); };
    QDir().mkpath(out("copy"));
    std::printf("Two 6000 x 4000 JPEG eyes (%.1f MB and %.1f MB), %d runs each\n",
                double(QFileInfo(left).size()) / 1e6, double(QFileInfo(right).size()) / 1e6, runs);
    std::printf("Lossless MPO against cp of the same bytes (ratio to cp):\n");
    timeRows(
        {{"cp left right DIR/", {"cp", left, right, out("copy/")}, out("copy/left.jpg")},
         {"into out.mpo (lossless)", {tool, left, right, out("lossless.mpo")}, out("lossless.mpo")},
         {"--version (the tool's start alone)", {tool, "--version"}, QString()}},
        runs, 0);
    std::printf(
        "Packed outputs against the streamed anaglyph into JPEG (ratio to the anaglyph):\n");
    timeRows({{"--mode red-blue out.jpg (streamed)",
               {tool, "--mode", "red-blue", left, right, out("anaglyph.jpg")},
               out("anaglyph.jpg")},
              {"Dubois anaglyph out.png (streamed)",
               {tool, left, right, out("dubois.png")},
               out("dubois.png")},
              {"--to parallel out.jpg",
               {tool, "--to", "parallel", left, right, out("parallel.jpg")},
               out("parallel.jpg")},
              {"--to over-under out.jpg",
               {tool, "--to", "over-under", left, right, out("over-under.jpg")},
               out("over-under.jpg")},
              {"--to half-parallel out.jpg",
               {tool, "--to", "half-parallel", left, right, out("half.jpg")},
               out("half.jpg")},
              {"--to rows out.bmp",
               {tool, "--to", "rows", left, right, out("rows.bmp")},
               out("rows.bmp")},
              {"--window 8 out.mpo (encoded again)",
               {tool, "--window", "8", left, right, out("shifted.mpo")},
               out("shifted.mpo")},
              {"--to wiggle out.gif",
               {tool, "--to", "wiggle", left, right, out("wiggle.gif")},
               out("wiggle.gif")},
              {"--to wiggle out.webp",
               {tool, "--to", "wiggle", left, right, out("wiggle.webp")},
               out("wiggle.webp")}},
             runs, 0);

    // Each peer as its users would shrink a pair: vips' thumbnail of each eye, joined;
    // ImageMagick told the size wanted before decoding, so that it decodes smaller too.
    std::vector<Row> sized{
        {"--max-size 1600 --to parallel out.jpg",
         {tool, "--max-size", "1600", "--to", "parallel", left, right, out("sized.jpg")},
         out("sized.jpg")}};
    const auto shell = [](const QString &line) { return QStringList{"sh", "-c", line}; };
    const bool vips = !QStandardPaths::findExecutable(QStringLiteral("vips")).isEmpty();
    const bool magick = !QStandardPaths::findExecutable(QStringLiteral("convert")).isEmpty();
    if (vips)
        sized.push_back({"vips thumbnail each eye, join",
                         shell(QStringLiteral("vips thumbnail '%1' '%3' 1600 && "
                                              "vips thumbnail '%2' '%4' 1600 && "
                                              "vips join '%3' '%4' '%5' horizontal")
                                   .arg(left, right, out("vl.v"), out("vr.v"), out("vips.jpg"))),
                         out("vips.jpg")});
    std::printf("Sized side by side (ratio to duoptica-combine)%s:\n",
                vips ? "" : "; vips is not installed");
    timeRows(sized, runs, 0);
    std::vector<Row> wiggle{
        {"--max-size 800 --to wiggle out.gif",
         {tool, "--max-size", "800", "--to", "wiggle", left, right, out("sized.gif")},
         out("sized.gif")}};
    if (magick)
        wiggle.push_back(
            {"convert -define jpeg:size, -resize 800",
             {"convert", "-delay", "15", "-loop", "0", "-define", "jpeg:size=1600x1068", left,
              right, "-resize", "800x800", out("magick.gif")},
             out("magick.gif")});
    std::printf("Sized wiggle (ratio to duoptica-combine)%s:\n",
                magick ? "" : "; ImageMagick is not installed");
    timeRows(wiggle, runs, 0);
    return 0;
}
