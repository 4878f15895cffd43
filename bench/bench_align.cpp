// Prints how long --align takes on a 24-megapixel pair (6000 x 4000), made up of textured planes
// at known depths, with and without a keystone to correct, and what the whole command
// duoptica-combine --align --to parallel takes on it as JPEG eyes, time and peak memory beside
// the same command without --align. With --picture FILE it writes an
// unaligned and an aligned red-blue anaglyph of a smaller such pair side by side. With
// --corpus DIR it aligns every stereo file (or pair of files) in DIR and prints what it got.
#include "align_stage.h"
#include "combine_pictures.h"
#include "process_run.h"
#include "stereo_input.h"
#include "synthetic_stereo.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <limits>
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

// The nearest 2 % of the disparity of an aligned pair and the median vertical disparity left,
// measured apart from the alignment's own matches: patches on a grid over a copy of at most
// 2000 pixels a side are looked for along the same row of the other eye, 4 rows either way (NCC,
// a clear and unique peak). NaN when too few are found.
struct Measured {
    double nearest = std::numeric_limits<double>::quiet_NaN();
    double vertical = std::numeric_limits<double>::quiet_NaN(); // in full-size pixels
};

Measured measureApart(const QImage &left, const QImage &right) {
    const auto grey = [](const QImage &picture, double &factor) {
        const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
        const cv::Mat bgra(rgb.height(), rgb.width(), CV_8UC4, const_cast<uchar *>(rgb.constBits()),
                           std::size_t(rgb.bytesPerLine()));
        cv::Mat out;
        cv::cvtColor(bgra, out, cv::COLOR_BGRA2GRAY);
        factor = std::max(1.0, std::max(out.cols, out.rows) / 2000.0);
        if (factor > 1)
            cv::resize(out, out, cv::Size(), 1 / factor, 1 / factor, cv::INTER_AREA);
        return out;
    };
    double factor = 1;
    const cv::Mat l = grey(left, factor), r = grey(right, factor);
    constexpr int kHalf = 10, kRows = 4;
    const int reach = std::min(160, l.cols / 6), step = std::max(12, l.cols / 64);
    std::vector<double> disparities, verticals;
    cv::Mat scores;
    for (int y = kHalf + kRows; y + kHalf + kRows < l.rows; y += step)
        for (int x = kHalf; x + kHalf < l.cols; x += step) {
            const cv::Mat patch = l(cv::Rect(x - kHalf, y - kHalf, 2 * kHalf + 1, 2 * kHalf + 1));
            cv::Scalar mean, deviation;
            cv::meanStdDev(patch, mean, deviation);
            if (deviation[0] < 6)
                continue;
            const int x0 = std::max(0, x - kHalf - reach);
            const int x1 = std::min(r.cols, x + kHalf + 1 + reach);
            if (x1 - x0 < 2 * kHalf + 8)
                continue;
            cv::matchTemplate(
                r(cv::Range(y - kHalf - kRows, y + kHalf + kRows + 1), cv::Range(x0, x1)), patch,
                scores, cv::TM_CCOEFF_NORMED);
            double best = 0;
            cv::Point at;
            cv::minMaxLoc(scores, nullptr, &best, nullptr, &at);
            if (best < 0.9 || at.x == 0 || at.x == scores.cols - 1 || at.y == 0 ||
                at.y == scores.rows - 1)
                continue;
            // Unique: nothing as good farther than 3 pixels along the row.
            float second = -1;
            for (int i = 0; i < scores.cols; ++i)
                if (std::abs(i - at.x) > 3)
                    second = std::max(second, scores.at<float>(at.y, i));
            if (second > best - 0.1)
                continue;
            disparities.push_back((x0 + at.x + kHalf - x) * factor);
            const double above = scores.at<float>(at.y - 1, at.x);
            const double below = scores.at<float>(at.y + 1, at.x);
            const double curvature = above - 2 * best + below;
            const double offset = curvature < 0 ? 0.5 * (above - below) / curvature : 0;
            verticals.push_back(std::abs(at.y - kRows + offset) * factor);
        }
    if (disparities.size() < 50)
        return {};
    std::sort(disparities.begin(), disparities.end());
    std::sort(verticals.begin(), verticals.end());
    return {disparities[std::size_t(0.02 * double(disparities.size() - 1) + 0.5)],
            verticals[verticals.size() / 2]};
}

// The pairs a folder of real stereo files holds: a file named like NAME_left, NAME_l, NAME-red
// or NAME_00 goes with its partner (NAME_right, NAME_r, NAME-cyan, NAME_01); an MPO holds both
// eyes; a picture named top-bottom one over the other, any other picture at least 1.4 times as
// wide as high side by side (read as parallel: the turn and the vertical fit do not depend on
// it). The partners are ordered as their names say (a cyan filter and the camera _01 on the left).
QList<duoptica::PairJob> corpusPairs(const QString &folder) {
    static const QRegularExpression partner(
        QStringLiteral("^(.*)([_-])(left|l|red|00|right|r|cyan|01)$"),
        QRegularExpression::CaseInsensitiveOption);
    static const QStringList firsts{QStringLiteral("left"), QStringLiteral("l"),
                                    QStringLiteral("cyan"), QStringLiteral("01")};
    static const QStringList seconds{QStringLiteral("right"), QStringLiteral("r"),
                                     QStringLiteral("red"), QStringLiteral("00")};
    QList<duoptica::PairJob> jobs;
    const QFileInfoList files = QDir(folder).entryInfoList(
        {QStringLiteral("*.jpg"), QStringLiteral("*.jpeg"), QStringLiteral("*.mpo"),
         QStringLiteral("*.png"), QStringLiteral("*.heic")},
        QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo &file : files) {
        duoptica::PairJob job;
        job.leftFile = file.filePath();
        const QRegularExpressionMatch named = partner.match(file.completeBaseName());
        if (named.hasMatch()) {
            const int first = firsts.indexOf(named.captured(3).toLower());
            if (first < 0)
                continue; // taken with its partner
            const QString other = named.captured(1) + named.captured(2) + seconds[first] +
                                  QLatin1Char('.') + file.suffix();
            job.rightFile = QDir(folder).filePath(other);
            if (!QFileInfo::exists(job.rightFile))
                continue;
            jobs.append(job);
            continue;
        }
        const QSize size = QImageReader(file.filePath()).size();
        const QString base = file.completeBaseName().toLower();
        // A 16:9 frame is one camera picture (with its other eye hidden somewhere), not halves.
        const bool wide = size.isValid() && size.width() * 10 >= size.height() * 14 &&
                          size.width() * 9 != size.height() * 16;
        if (base.contains(u"top-bottom") || base.contains(u"over-under"))
            job.layout = duoptica::StereoLayout::OverUnder;
        else if (file.suffix().compare(u"mpo", Qt::CaseInsensitive) != 0 && wide)
            job.layout = duoptica::StereoLayout::Parallel;
        else
            job.layout = duoptica::StereoLayout::FromFile;
        jobs.append(job);
    }
    return jobs;
}

int alignCorpus(const QString &folder) {
    const QList<duoptica::PairJob> jobs = corpusPairs(folder);
    if (jobs.isEmpty()) {
        std::fprintf(stderr, "%s: no stereo files\n", qPrintable(folder));
        return 1;
    }
    // "check": the nearest 2 % of the output's disparity as measured apart (zero is the screen);
    // "vcheck": the median vertical disparity left, measured alike.
    std::printf("%-36s %-9s %6s %6s %6s %7s %7s %7s %6s %6s %7s %11s  %s\n", "file", "result",
                "points", "median", "95th", "turn", "scale", "window", "check", "vcheck", "time s",
                "size", "why");
    for (const duoptica::PairJob &job : jobs) {
        QString name = QFileInfo(job.leftFile).fileName();
        if (!job.rightFile.isEmpty())
            name += QLatin1Char('+') + QFileInfo(job.rightFile)
                                           .completeBaseName()
                                           .section(QRegularExpression(QStringLiteral("[_-]")), -1);
        duoptica::EyePictures eyes = duoptica::readEyes(job, duoptica::Threads::All);
        if (eyes.failure.code != duoptica::ExitCode::Success || eyes.left.isNull()) {
            std::printf("%-36s %-9s %6s %6s %6s %7s %7s %7s %6s %6s %7s %11s  %s\n",
                        qPrintable(name), "unread", "", "", "", "", "", "", "", "", "", "",
                        qPrintable(eyes.failure.message));
            continue;
        }
        const QString size = QStringLiteral("%1x%2").arg(eyes.left.width()).arg(eyes.left.height());
        if (eyes.left.size() != eyes.right.size()) {
            std::printf("%-36s %-9s %6s %6s %6s %7s %7s %7s %6s %6s %7s %11s  %s\n",
                        qPrintable(name), "unequal", "", "", "", "", "", "", "", "", "",
                        qPrintable(size),
                        qPrintable(QStringLiteral("right eye %1x%2")
                                       .arg(eyes.right.width())
                                       .arg(eyes.right.height())));
            continue;
        }
        duoptica::AlignOptions options;
        options.window.kind = duoptica::align::WindowPlacement::Kind::NearestAtScreen;
        options.verbose = true;
        QString refusal;
        QElapsedTimer timer;
        timer.start();
        const auto summary = duoptica::alignEyes(eyes.left, eyes.right, options, &refusal);
        const double seconds = timer.nsecsElapsed() / 1e9;
        if (!summary) {
            std::printf("%-36s %-9s %6s %6s %6s %7s %7s %7s %6s %6s %7.2f %11s  %s\n",
                        qPrintable(name), "refused", "", "", "", "", "", "", "", "", seconds,
                        qPrintable(size), qPrintable(refusal));
            continue;
        }
        const duoptica::align::AlignmentFit &fit = summary->fit;
        const Measured apart = measureApart(eyes.left, eyes.right);
        std::printf(
            "%-36s %-9s %6d %6.2f %6.2f %7.2f %7.4f %7.1f %6.1f %6.2f %7.2f %11s  %s\n",
            qPrintable(name),
            fit.correction == duoptica::align::Correction::Keystone ? "keystone" : "aligned",
            fit.points, fit.residualVertical, fit.residualVertical95,
            fit.similarity.rotationDegrees(), fit.similarity.scale(), summary->layout.windowShift,
            apart.nearest, apart.vertical, seconds, qPrintable(size),
            qPrintable(QStringLiteral("vertical shift %1 px").arg(fit.verticalShift, 0, 'f', 1)));
    }
    return 0;
}

// The whole command on JPEG eyes, run after the pictures made here are let go (a forked child
// would count them as its own).
void timeCommand(const synthetic::Scene &scene, const QString &folder) {
    const QString left = folder + QStringLiteral("/left.jpg");
    const QString right = folder + QStringLiteral("/right.jpg");
    if (!scene.left().save(left, "JPEG", 90) || !scene.right(kError).save(right, "JPEG", 90)) {
        std::fprintf(stderr, "cannot write the JPEG pair\n");
        return;
    }
    const QString output = folder + QStringLiteral("/out.jpg");
    const QStringList plain{QStringLiteral(DUOPTICA_COMBINE),
                            QStringLiteral("--to"),
                            QStringLiteral("parallel"),
                            left,
                            right,
                            output};
    QStringList aligned = plain;
    aligned.insert(1, QStringLiteral("--align"));
    constexpr int kRuns = 3;
    for (const QStringList &command : {aligned, plain}) {
        std::vector<double> seconds;
        long peak = 0;
        int status = 0;
        for (int run = 0; run < kRuns; ++run) {
            const ProcessRun result = runProcess(command, ChildErrors::Hidden);
            seconds.push_back(result.seconds);
            peak = std::max(peak, result.peakKiB);
            status = std::max(status, result.exitCode);
        }
        std::sort(seconds.begin(), seconds.end());
        std::printf("duoptica-combine %s on 6000 x 4000 JPEG eyes: median %.3f s, best %.3f s of "
                    "%d runs, peak %.1f MiB%s\n",
                    command.size() > plain.size() ? "--align --to parallel" : "--to parallel",
                    seconds[seconds.size() / 2], seconds.front(), kRuns, double(peak) / 1024,
                    status ? qPrintable(QStringLiteral(", EXIT STATUS %1").arg(status)) : "");
    }
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 3 && arguments[1] == u"--picture") {
        writePicture(arguments[2]);
        return 0;
    }
    if (arguments.size() == 3 && arguments[1] == u"--corpus")
        return alignCorpus(arguments[2]);

    std::printf("making a 6000 x 4000 pair (not timed)...\n");
    const synthetic::Scene scene({6000, 4000});
    const QTemporaryDir folder;
    timeCommand(scene, folder.path());
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
