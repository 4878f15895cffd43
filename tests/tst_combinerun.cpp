// The combine run against scripted fakes: what it leaves in the output, the progress titles,
// stopping at an exact pixel step, the size check and the controls' states.
#include "combine_run.h"
#include "fake_run_host.h"
#include "pixel_rule.h"

#include <QTest>

#include <algorithm>
#include <cmath>
#include <random>

using duoptica::ColorValue;
using duoptica::CombineMode;
using duoptica::RunOutcome;

Q_DECLARE_METATYPE(CombineMode)

namespace {

std::vector<ColorValue> randomPicture(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<ColorValue> picture(static_cast<std::size_t>(width * height));
    for (ColorValue &color : picture)
        color = static_cast<ColorValue>(random() & 0xFFFFFF);
    return picture;
}

void loadRandomPictures(FakeRunHost &host, int width, int height) {
    host.left.setPicture(randomPicture(width, height, 1));
    host.right.setPicture(randomPicture(width, height, 2));
}

ColorValue expectedAt(const FakeRunHost &host, int x, int y) {
    return duoptica::combinePixel(host.left.at(x, y), host.right.at(x, y), host.mode);
}

// The row the scan stood on when the title was set, from the yields made before it.
long rowOfCaption(long yieldsBefore, int width) {
    return (yieldsBefore - 1) / (width + 2);
}

long firstRowShowing(const FakeRunHost &host, const std::string &caption, int width) {
    for (const auto &[yields, text] : host.captions)
        if (text == caption)
            return rowOfCaption(yields, width);
    return -1;
}

bool isBandOrBackground(ColorValue color) {
    return color == 0x000000 || color == 0xFFFFFF || color == FakeSurface::kBackground;
}

} // namespace

class CombineRunTest : public QObject {
    Q_OBJECT

private slots:
    void fullRunCombinesEveryPixelInTheModeOfTheMoment_data();
    void fullRunCombinesEveryPixelInTheModeOfTheMoment();
    void controlsAreDisabledWhileRunningAndIdleAfter();
    void progressIsComputedInDoublePrecision_data();
    void progressIsComputedInDoublePrecision();
    void titlesClimbToOneHundredBeforeDone();
    void stopAtAnExactStepKeepsTheRowsScannedSoFar();
    void stopInTheLastYieldIsNotSeen();
    void sizeMismatchReportsAndScansNothing_data();
    void sizeMismatchReportsAndScansNothing();
    void secondRunClearsTheOutputFirstAndStopsAtZeroPercent();
    void pictureWithNoRowsEndsDoneWithoutNan();
};

void CombineRunTest::controlsAreDisabledWhileRunningAndIdleAfter() {
    FakeRunHost host(3, 3);
    std::map<duoptica::Control, bool> whileRunning;
    host.onYield = [&](long n) {
        if (n == 0)
            whileRunning = host.enabled;
    };
    duoptica::runCombine(host);
    using duoptica::Control;
    for (const auto &[control, isEnabled] : whileRunning)
        QCOMPARE(isEnabled, control == Control::Command4);
    QCOMPARE(whileRunning.size(), std::size_t{8});
    QVERIFY(host.idle());
}

void CombineRunTest::progressIsComputedInDoublePrecision_data() {
    QTest::addColumn<int>("rowLimit");
    QTest::addColumn<int>("row");
    QTest::addColumn<float>("percent");
    QTest::newRow("200 rows, y 59: 29.5 rounds to the even 30") << 200 << 59 << 30.0f;
    QTest::newRow("200 rows, y 1: 0.5 rounds to the even 0") << 200 << 1 << 0.0f;
    QTest::newRow("200 rows, y 3: 1.5 rounds to 2") << 200 << 3 << 2.0f;
    QTest::newRow("384 rows, y 1: 0.26 rounds to 0") << 384 << 1 << 0.0f;
    QTest::newRow("384 rows, y 2: 0.52 rounds to 1") << 384 << 2 << 1.0f;
    QTest::newRow("384 rows, y 384") << 384 << 384 << 100.0f;
}

void CombineRunTest::progressIsComputedInDoublePrecision() {
    QFETCH(int, rowLimit);
    QFETCH(int, row);
    QFETCH(float, percent);
    QCOMPARE(duoptica::progressPercent(row, rowLimit), percent);

    // The same rows seen through a whole run.
    constexpr int width = 1;
    FakeRunHost host(width, rowLimit);
    duoptica::runCombine(host);
    const std::string caption = std::to_string(static_cast<int>(percent)) + "%";
    if (percent > duoptica::progressPercent(row - 1, rowLimit))
        QCOMPARE(firstRowShowing(host, caption, width), long{row});
    else
        QVERIFY(firstRowShowing(host, caption, width) != row);
}

void CombineRunTest::titlesClimbToOneHundredBeforeDone() {
    constexpr int width = 2;
    FakeRunHost host(width, 384);
    duoptica::runCombine(host);
    QCOMPARE(host.captions.front().second, std::string("0%"));
    QCOMPARE(host.captions.back().second, std::string("Done!"));
    const auto &lastProgress = host.captions[host.captions.size() - 2];
    QCOMPARE(lastProgress.second, std::string("100%"));
    QCOMPARE(rowOfCaption(lastProgress.first, width), 383L); // 99.74 rounds to 100
    // One title per whole percentage, each one higher, set at the first pixel of its row.
    for (std::size_t i = 1; i + 1 < host.captions.size(); ++i) {
        QCOMPARE(host.captions[i].second, std::to_string(i) + "%");
        QCOMPARE((host.captions[i].first - 1) % (width + 2), 0L);
    }
}

void CombineRunTest::stopAtAnExactStepKeepsTheRowsScannedSoFar() {
    constexpr int width = 6;
    constexpr int height = 10;
    constexpr long stepsPerRow = width + 2;
    constexpr long stopStep = 5 * stepsPerRow + 3; // row 5, column 2
    FakeRunHost host(width, height);
    loadRandomPictures(host, width, height);
    host.onYield = [&](long n) {
        if (n == stopStep)
            host.StopFlag = duoptica::kTrue16;
    };

    QCOMPARE(duoptica::runCombine(host), RunOutcome::Stopped);
    QCOMPARE(host.title, std::string("Canceled by user at 50%"));
    QCOMPARE(host.StopFlag, duoptica::kTrue16);
    QVERIFY(host.idle());
    QCOMPARE(host.yields, stopStep + 1);
    // The stop is noticed after the next step's reads, before its write.
    QCOMPARE(host.left.reads, stopStep + 2);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const long step = y * stepsPerRow + x + 1;
            if (step <= stopStep)
                QCOMPARE(host.output.at(x, y), expectedAt(host, x, y));
            else
                QVERIFY2(isBandOrBackground(host.output.at(x, y)),
                         qPrintable(QString::number(step)));
        }
    // What is left of the band drawn at row 5 shows past the scan position: black, white,
    // white, black, then the background.
    const std::vector<ColorValue> band{0x000000, 0xFFFFFF, 0xFFFFFF, 0x000000,
                                       FakeSurface::kBackground};
    for (int row = 5; row < height; ++row)
        QCOMPARE(host.output.at(5, row), band[row - 5]);
}

void CombineRunTest::stopInTheLastYieldIsNotSeen() {
    constexpr int width = 3;
    constexpr int height = 3;
    FakeRunHost host(width, height);
    const long lastStep = (height + 1) * (width + 2) - 1;
    host.onYield = [&](long n) {
        if (n == lastStep)
            host.StopFlag = duoptica::kTrue16;
    };
    QCOMPARE(duoptica::runCombine(host), RunOutcome::Done);
    QCOMPARE(host.title, std::string("Done!"));
    QCOMPARE(host.StopFlag, duoptica::kTrue16);
    QVERIFY(host.idle());

    // The next run clears it.
    host.onYield = nullptr;
    QCOMPARE(duoptica::runCombine(host), RunOutcome::Done);
    QCOMPARE(host.StopFlag, duoptica::kFalse16);
}

void CombineRunTest::fullRunCombinesEveryPixelInTheModeOfTheMoment_data() {
    QTest::addColumn<CombineMode>("firstMode");
    QTest::addColumn<CombineMode>("secondMode");
    QTest::newRow("normal, then red-green") << CombineMode::Normal << CombineMode::RedGreen;
    QTest::newRow("red-blue, then normal") << CombineMode::RedBlue << CombineMode::Normal;
}

// The mode is read at every pixel, so a change in the middle of a run shows from the next
// pixel on. Every pixel is combined, so no band is left.
void CombineRunTest::fullRunCombinesEveryPixelInTheModeOfTheMoment() {
    QFETCH(CombineMode, firstMode);
    QFETCH(CombineMode, secondMode);
    constexpr int width = 9;
    constexpr int height = 120;
    FakeRunHost host(width, height);
    loadRandomPictures(host, width, height);
    host.mode = firstMode;
    host.onYield = [&](long n) {
        if (n == 60 * (width + 2) - 1) // the last step of row 59
            host.mode = secondMode;
    };

    QCOMPARE(duoptica::runCombine(host), RunOutcome::Done);
    QCOMPARE(host.title, std::string("Done!"));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const CombineMode mode = y < 60 ? firstMode : secondMode;
            QCOMPARE(host.output.at(x, y),
                     duoptica::combinePixel(host.left.at(x, y), host.right.at(x, y), mode));
        }
    QVERIFY(host.output.refreshes > 1);
    // Rows 0 to H and columns -1 to W: (H + 1) x (W + 2) steps, each with one yield and a read
    // of each source.
    QCOMPARE(host.yields, long{(height + 1) * (width + 2)});
    QCOMPARE(host.left.reads, host.yields);
    QCOMPARE(host.right.reads, host.yields);
}

void CombineRunTest::sizeMismatchReportsAndScansNothing_data() {
    QTest::addColumn<int>("rightWidth");
    QTest::addColumn<int>("rightHeight");
    QTest::newRow("right narrower") << 5 << 6;
    QTest::newRow("right taller") << 6 << 7;
}

void CombineRunTest::sizeMismatchReportsAndScansNothing() {
    QFETCH(int, rightWidth);
    QFETCH(int, rightHeight);
    FakeRunHost host(6, 6);
    host.right = FakeSurface(rightWidth, rightHeight);
    host.output.setPixel(1, 1, 0x123456);
    QCOMPARE(duoptica::runCombine(host), RunOutcome::SizeMismatch);
    QCOMPARE(host.messages.size(), std::size_t{1});
    QCOMPARE(host.messages[0].first, std::string("Pictures not equal size!"));
    QCOMPARE(host.messages[0].second, std::string("Error"));
    QCOMPARE(host.title, std::string("Duoptica"));
    QCOMPARE(host.left.reads + host.right.reads, 0L);
    QCOMPARE(host.yields, 0L);
    QCOMPARE(host.output.at(1, 1), FakeSurface::kBackground);
    QCOMPARE(host.output.refreshes, 1);
    QVERIFY(host.idle());
}

void CombineRunTest::secondRunClearsTheOutputFirstAndStopsAtZeroPercent() {
    FakeRunHost host(4, 4);
    loadRandomPictures(host, 4, 4);
    duoptica::runCombine(host);
    QVERIFY(host.output.at(0, 0) != FakeSurface::kBackground);

    host.output.refreshes = 0;
    host.onYield = [&](long) { host.StopFlag = duoptica::kTrue16; };
    QCOMPARE(duoptica::runCombine(host), RunOutcome::Stopped);
    QCOMPARE(host.title, std::string("Canceled by user at 0%"));
    QCOMPARE(host.output.refreshes, 1);
    QVERIFY(std::all_of(host.output.bitmap.begin(), host.output.bitmap.end(),
                        [](ColorValue c) { return c == FakeSurface::kBackground; }));
}

void CombineRunTest::pictureWithNoRowsEndsDoneWithoutNan() {
    FakeRunHost host(5, 0);
    QCOMPARE(duoptica::runCombine(host), RunOutcome::Done);
    QCOMPARE(host.title, std::string("Done!"));
    for (const auto &[yields, text] : host.captions)
        QVERIFY2(text.find("nan") == std::string::npos, text.c_str());
    QCOMPARE(host.yields, 7L); // the one row y = 0, columns -1 to 5
}

QTEST_GUILESS_MAIN(CombineRunTest)
#include "tst_combinerun.moc"
