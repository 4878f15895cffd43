// --match-colors on made-up pairs: the right eye's colours brought to the left eye's from the
// area both eyes show, without changing a pair that already matches or flattening highlights.
#include "color_match_stage.h"
#include "colour_pairs.h"

#include <QTest>

using colourpairs::ColourError;

Q_DECLARE_METATYPE(ColourError)

namespace {

constexpr QSize kEyeSize(480, 320);

// gamma 1.3, gain 1.15, red x 0.92, blue x 1.08: the mismatch of the target.
const ColourError kCameraMismatch{1.3, 1.15, {0.92, 1, 1.08}};

} // namespace

class MatchColorsTest : public QObject {
    Q_OBJECT

private slots:
    void findsTheAreaBothEyesShow_data();
    void findsTheAreaBothEyesShow();
    void bringsTheRightEyesColoursToTheLeftEyes_data();
    void bringsTheRightEyesColoursToTheLeftEyes();
    void leavesEyesThatAlreadyMatchAsTheyWere_data();
    void leavesEyesThatAlreadyMatchAsTheyWere();
    void keepsTheHighlightsOfAMuchDarkerEye();
    void carriesLevelsSeenOnlyAtTheEdgesAlong();
};

void MatchColorsTest::findsTheAreaBothEyesShow_data() {
    QTest::addColumn<int>("disparity");
    QTest::addColumn<ColourError>("error");
    QTest::newRow("the same place, the same colours") << 0 << ColourError{};
    QTest::newRow("20 px apart, camera mismatch") << 20 << kCameraMismatch;
    QTest::newRow("45 px apart, much darker") << 45 << ColourError{1, 0.4, {1, 1, 1}};
}

void MatchColorsTest::findsTheAreaBothEyesShow() {
    QFETCH(int, disparity);
    QFETCH(ColourError, error);
    const colourpairs::Pair pair = colourpairs::shiftedPair(kEyeSize, disparity, error);
    const duoptica::SharedArea area = duoptica::sharedArea(pair.left, pair.right, false);
    const QPoint shift = area.right.topLeft() - area.left.topLeft();
    QVERIFY2(std::abs(shift.x() - disparity) <= 1 && shift.y() == 0,
             qPrintable(QStringLiteral("found %1, %2").arg(shift.x()).arg(shift.y())));
    QCOMPARE(area.right.size(), area.left.size());
    QVERIFY(pair.leftShared.contains(area.left));
    QVERIFY(QRect(QPoint(0, 0), kEyeSize).contains(area.right));
    // Aligned eyes are already cropped to what they share.
    QCOMPARE(duoptica::sharedArea(pair.left, pair.right, true).right,
             QRect(QPoint(0, 0), kEyeSize));
}

void MatchColorsTest::bringsTheRightEyesColoursToTheLeftEyes_data() {
    QTest::addColumn<int>("disparity");
    QTest::addColumn<ColourError>("error");
    QTest::newRow("gamma 1.3, gain 1.15, warmer, 20 px apart") << 20 << kCameraMismatch;
    QTest::newRow("darker by a third, 20 px apart") << 20 << ColourError{1, 0.67, {1, 1, 1}};
    QTest::newRow("cooler and flatter, 35 px apart") << 35 << ColourError{0.85, 1, {1.1, 1, 0.85}};
}

void MatchColorsTest::bringsTheRightEyesColoursToTheLeftEyes() {
    QFETCH(int, disparity);
    QFETCH(ColourError, error);
    colourpairs::Pair pair = colourpairs::shiftedPair(kEyeSize, disparity, error);
    std::array<double, 3> distanceBefore;
    for (int c = 0; c < 3; ++c)
        distanceBefore[c] =
            colourpairs::earthMovers(colourpairs::histogram(pair.left, pair.leftShared, c),
                                     colourpairs::histogram(pair.right, pair.rightShared, c));

    duoptica::ChannelCurves curves;
    QVERIFY(duoptica::matchEyeColors(pair.left, pair.right, false, &curves));

    for (int c = 0; c < 3; ++c) {
        const colourpairs::Histogram left = colourpairs::histogram(pair.left, pair.leftShared, c);
        const colourpairs::Histogram right =
            colourpairs::histogram(pair.right, pair.rightShared, c);
        const double meanDifference = std::abs(colourpairs::mean(left) - colourpairs::mean(right));
        const double distanceAfter = colourpairs::earthMovers(left, right);
        const QString figures = QStringLiteral("channel %1: means %2 apart, distance %3 -> %4")
                                    .arg(c)
                                    .arg(meanDifference)
                                    .arg(distanceBefore[c])
                                    .arg(distanceAfter);
        QVERIFY2(meanDifference <= 1, qPrintable(figures));
        QVERIFY2(distanceAfter <= 0.1 * distanceBefore[c], qPrintable(figures));
    }
}

void MatchColorsTest::leavesEyesThatAlreadyMatchAsTheyWere_data() {
    QTest::addColumn<int>("disparity");
    QTest::addColumn<double>("largestMeanChange");
    QTest::newRow("the same picture") << 0 << 0.0;
    QTest::newRow("20 px of disparity only") << 20 << 1.0;
    QTest::newRow("45 px of disparity only") << 45 << 1.0;
}

void MatchColorsTest::leavesEyesThatAlreadyMatchAsTheyWere() {
    QFETCH(int, disparity);
    QFETCH(double, largestMeanChange);
    colourpairs::Pair pair = colourpairs::shiftedPair(kEyeSize, disparity, {});
    const QImage before = pair.right;
    duoptica::ChannelCurves curves;
    QVERIFY(duoptica::matchEyeColors(pair.left, pair.right, false, &curves));
    const double change = colourpairs::meanChange(before, pair.right);
    QVERIFY2(change <= largestMeanChange, qPrintable(QString::number(change)));
}

void MatchColorsTest::keepsTheHighlightsOfAMuchDarkerEye() {
    // Underexposed by more than a stop, the shadows pressed down further: a single gain that
    // matched the means would push the highlights into white.
    colourpairs::Pair pair = colourpairs::shiftedPair(kEyeSize, 0, {0.8, 0.45, {1, 1, 1}});
    duoptica::ChannelCurves curves;
    QVERIFY(duoptica::matchEyeColors(pair.left, pair.right, false, &curves));

    for (int c = 0; c < 3; ++c) {
        const colourpairs::Histogram left = colourpairs::histogram(pair.left, pair.leftShared, c);
        const colourpairs::Histogram right =
            colourpairs::histogram(pair.right, pair.rightShared, c);
        QVERIFY2(std::abs(colourpairs::mean(left) - colourpairs::mean(right)) <= 1,
                 qPrintable(QString::number(c)));
        // As many pixels at or near white as in the left eye, give or take one in a hundred.
        double leftWhite = 0, rightWhite = 0;
        for (int level = 250; level < 256; ++level) {
            leftWhite += left[level];
            rightWhite += right[level];
        }
        QVERIFY2(rightWhite <= leftWhite + 0.01,
                 qPrintable(QStringLiteral("%1 against %2").arg(rightWhite).arg(leftWhite)));
    }
    // And the glows still fade: the brightest part of the left eye spans as many levels in the
    // matched right eye, give or take the dark eye's coarser steps.
    int leftLow = 255, rightLow = 255, leftHigh = 0, rightHigh = 0;
    for (int y = 0; y < kEyeSize.height(); ++y)
        for (int x = 0; x < kEyeSize.width(); ++x) {
            const int left = qGreen(pair.left.pixel(x, y));
            if (left < 200)
                continue;
            const int right = qGreen(pair.right.pixel(x, y));
            leftLow = std::min(leftLow, left);
            leftHigh = std::max(leftHigh, left);
            rightLow = std::min(rightLow, right);
            rightHigh = std::max(rightHigh, right);
        }
    QVERIFY2(rightHigh - rightLow >= 0.8 * (leftHigh - leftLow),
             qPrintable(QStringLiteral("%1..%2 against %3..%4")
                            .arg(rightLow)
                            .arg(rightHigh)
                            .arg(leftLow)
                            .arg(leftHigh)));
}

void MatchColorsTest::carriesLevelsSeenOnlyAtTheEdgesAlong() {
    // A grey ramp, darker in the right eye, which alone shows a black and a white post at its
    // edges, outside the area both eyes show: they must stay near black and white, not be
    // pressed onto the darkest and brightest levels the shared area has.
    QImage left(kEyeSize, QImage::Format_RGB32);
    QImage right(kEyeSize, QImage::Format_RGB32);
    for (int x = 0; x < kEyeSize.width(); ++x) {
        const int level = 60 + 140 * x / kEyeSize.width();
        for (int y = 0; y < kEyeSize.height(); ++y) {
            left.setPixel(x, y, qRgb(level, level, level));
            const int darker = x < 4 ? 20 : x >= kEyeSize.width() - 4 ? 250 : level * 4 / 5;
            right.setPixel(x, y, qRgb(darker, darker, darker));
        }
    }
    duoptica::ChannelCurves curves;
    QVERIFY(duoptica::matchEyeColors(left, right, false, &curves));
    const int black = qGreen(right.pixel(0, 0)),
              white = qGreen(right.pixel(kEyeSize.width() - 1, 0));
    QVERIFY2(black >= 15 && black <= 35, qPrintable(QString::number(black)));
    QVERIFY2(white >= 240, qPrintable(QString::number(white)));
}

QTEST_GUILESS_MAIN(MatchColorsTest)
#include "tst_matchcolors.moc"
