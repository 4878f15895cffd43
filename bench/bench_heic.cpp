// Prints how fast duoptica-combine reads and writes stereo HEIC: a spatial photo given on the
// command line (two 2560 x 2560 grid images) into a side-by-side JPEG, and a 12-megapixel pair
// of JPEG eyes (made up, or a camera's given on the command line) into a HEIC at the default
// quality, with peak memory and output size. It measures and prints; it judges nothing.
//   bench_heic [SPATIAL.heic [LEFT.jpg RIGHT.jpg]]
#include "photo_like_picture.h"
#include "process_run.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// The median of runs after a warm-up, and the largest peak.
void timeRow(const char *what, const QStringList &command, const QString &output, int runs) {
    std::vector<double> seconds;
    std::vector<double> cpu;
    long peak = 0;
    int exit = 0;
    for (int i = -1; i < runs; ++i) {
        const ProcessRun run = runProcess(command, ChildErrors::Hidden);
        exit = std::max(exit, run.exitCode);
        if (i >= 0) {
            seconds.push_back(run.seconds);
            cpu.push_back(run.cpuSeconds);
            peak = std::max(peak, run.peakKiB);
        }
    }
    std::sort(seconds.begin(), seconds.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf("  %-46s median %6.3f s (processor %6.3f s)  peak %6.1f MiB  output %5.2f MB", what,
                seconds[seconds.size() / 2], cpu[cpu.size() / 2], double(peak) / 1024,
                double(QFileInfo(output).size()) / 1e6);
    if (exit != 0)
        std::printf("  EXIT STATUS %d", exit);
    std::printf("\n");
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const int runs = 3;
    const QString tool = QStringLiteral(DUOPTICA_COMBINE);
    QTemporaryDir dir;
    const auto out = [&](const char *name) { return dir.filePath(QLatin1StringView(name)); };

    std::printf("Stereo HEIC, %d runs each after a warm-up\n", runs);
    if (argc > 1)
        timeRow("spatial photo into --to parallel out.jpg",
                {tool, "--to", "parallel", QString::fromLocal8Bit(argv[1]), out("sbs.jpg")},
                out("sbs.jpg"), runs);
    else
        std::printf("  (give a spatial photo's HEIC to time reading one)\n");

    const QString left = out("left.jpg");
    const QString right = out("right.jpg");
    if (!photoLikePicture(4000, 3000, 1).save(left, "JPEG", 90) ||
        !photoLikePicture(4000, 3000, 2).save(right, "JPEG", 90)) {
        std::fprintf(stderr, "cannot write the pair\n");
        return 1;
    }
    timeRow("4000 x 3000 JPEG pair into out.heic", {tool, left, right, out("pair.heic")},
            out("pair.heic"), runs);
    if (argc > 3)
        timeRow("the camera pair given into out.heic",
                {tool, QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                 out("camera.heic")},
                out("camera.heic"), runs);
    timeRow("4000 x 3000 JPEG pair into out.mpo (for scale)",
            {tool, "--window", "0", left, right, out("pair.mpo")}, out("pair.mpo"), runs);
    return 0;
}
