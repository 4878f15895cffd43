// The pixel rule: the channel extractors, the worked cases of every mode, and proof that the
// integer form gives the same colour as the literal decimal-text form for every input.
#include "module2.h"
#include "pixel_rule.h"

#include <QTest>

#include <random>

using duoptica::ColorValue;
using duoptica::CombineMode;

Q_DECLARE_METATYPE(CombineMode)

namespace {

constexpr ColorValue rgb(int red, int green, int blue) {
    return red + 256 * green + 65536 * blue;
}
constexpr ColorValue grey(int level) {
    return rgb(level, level, level);
}

} // namespace

class PixelRuleTest : public QObject {
    Q_OBJECT

private slots:
    void extractorsReturnDecimalChannels_data();
    void extractorsReturnDecimalChannels();
    void combinesWorkedCases_data();
    void combinesWorkedCases();
    void anaglyphOutputNeverExceeds128();
    void integerFormMatchesTextFormForEveryColourOnEitherSide();
    void integerFormMatchesTextFormForEveryChannelPair();
    void integerFormMatchesTextFormOnRandomPairs();
};

void PixelRuleTest::extractorsReturnDecimalChannels_data() {
    QTest::addColumn<ColorValue>("color");
    QTest::addColumn<QString>("channels"); // red, green and blue as the extractors give them
    QTest::newRow("black") << 0 << QStringLiteral("0 0 0");
    QTest::newRow("one digit, no leading zeros") << rgb(7, 8, 9) << QStringLiteral("7 8 9");
    QTest::newRow("three digits") << rgb(255, 128, 100) << QStringLiteral("255 128 100");
    QTest::newRow("outside a bitmap (-1)") << -1 << QStringLiteral("255 255 255");
    QTest::newRow("bits 24-31 ignored")
        << static_cast<ColorValue>(0x7F030201) << QStringLiteral("1 2 3");
    QTest::newRow("negative with low bytes")
        << static_cast<ColorValue>(0x80FF00FE) << QStringLiteral("254 0 255");
}

void PixelRuleTest::extractorsReturnDecimalChannels() {
    QFETCH(ColorValue, color);
    QFETCH(QString, channels);
    const std::string got =
        Module2::GetRed(color) + ' ' + Module2::GetGreen(color) + ' ' + Module2::GetBlue(color);
    QCOMPARE(QString::fromStdString(got), channels);
}

void PixelRuleTest::combinesWorkedCases_data() {
    QTest::addColumn<CombineMode>("mode");
    QTest::addColumn<ColorValue>("left");
    QTest::addColumn<ColorValue>("right");
    QTest::addColumn<ColorValue>("expected");

    const auto normal = CombineMode::Normal;
    const auto redBlue = CombineMode::RedBlue;
    const auto redGreen = CombineMode::RedGreen;
    QTest::newRow("normal: 127.5 rounds up to the even 128")
        << normal << grey(255) << grey(0) << grey(128);
    QTest::newRow("normal: 1.5 rounds to 2") << normal << grey(1) << grey(2) << grey(2);
    QTest::newRow("normal: 2.5 rounds to 2") << normal << grey(2) << grey(3) << grey(2);
    QTest::newRow("normal: 0.5 rounds to 0") << normal << grey(0) << grey(1) << grey(0);
    QTest::newRow("normal: channels kept apart")
        << normal << rgb(10, 20, 30) << rgb(30, 40, 50) << rgb(20, 30, 40);
    QTest::newRow("red-blue: dominant green left, dominant red right")
        << redBlue << rgb(0, 200, 0) << rgb(180, 0, 0) << rgb(100, 0, 90);
    QTest::newRow("red-green: the blue average lands in green")
        << redGreen << rgb(0, 200, 0) << rgb(180, 0, 0) << rgb(100, 90, 0);
    QTest::newRow("red-blue: dominant blue left drives red")
        << redBlue << rgb(1, 2, 50) << 0 << rgb(25, 0, 0);
    QTest::newRow("red-blue: dominant green right drives blue")
        << redBlue << 0 << rgb(1, 51, 2) << rgb(0, 0, 26);
    QTest::newRow("red-blue: left tie keeps its own red")
        << redBlue << rgb(10, 200, 200) << 0 << rgb(5, 0, 0);
    QTest::newRow("red-blue: right tie keeps its own blue")
        << redBlue << 0 << rgb(200, 200, 10) << rgb(0, 0, 5);
    QTest::newRow("red-green: right tie keeps its own blue")
        << redGreen << 0 << rgb(200, 200, 10) << rgb(0, 5, 0);
    QTest::newRow("red-blue: white both sides")
        << redBlue << grey(255) << grey(255) << rgb(128, 0, 128);
    QTest::newRow("red-green: white both sides")
        << redGreen << grey(255) << grey(255) << rgb(128, 128, 0);
    QTest::newRow("red-blue: outside both bitmaps (-1)") << redBlue << -1 << -1 << rgb(128, 0, 128);
    QTest::newRow("normal: outside the left bitmap (-1)") << normal << -1 << grey(0) << grey(128);
    QTest::newRow("red-blue: 3 / 2 rounds to the even 2")
        << redBlue << rgb(3, 0, 0) << 0 << rgb(2, 0, 0);
    QTest::newRow("red-blue: 5 / 2 rounds to the even 2")
        << redBlue << rgb(5, 0, 0) << 0 << rgb(2, 0, 0);
}

void PixelRuleTest::combinesWorkedCases() {
    QFETCH(CombineMode, mode);
    QFETCH(ColorValue, left);
    QFETCH(ColorValue, right);
    QFETCH(ColorValue, expected);
    QCOMPARE(duoptica::combinePixelByText(left, right, mode), expected);
    QCOMPARE(duoptica::combinePixel(left, right, mode), expected);
}

void PixelRuleTest::anaglyphOutputNeverExceeds128() {
    std::mt19937 random(42);
    for (int i = 0; i < 100000; ++i) {
        const auto left = static_cast<ColorValue>(random());
        const auto right = static_cast<ColorValue>(random());
        for (CombineMode mode : {CombineMode::RedBlue, CombineMode::RedGreen}) {
            const duoptica::Channels out =
                duoptica::channelsOf(duoptica::combinePixel(left, right, mode));
            QVERIFY(out.red <= 128 && out.green <= 128 && out.blue <= 128);
            QVERIFY(mode == CombineMode::RedBlue ? out.green == 0 : out.blue == 0);
        }
    }
}

// In the anaglyph modes output red depends on the left colour alone and the other channel on
// the right colour alone, so sweeping one side with the other black covers every input.
void PixelRuleTest::integerFormMatchesTextFormForEveryColourOnEitherSide() {
    using duoptica::combinePixel, duoptica::combinePixelByText;
    for (ColorValue c = 0; c <= 0xFFFFFF; ++c) {
        if (combinePixel(c, 0, CombineMode::RedBlue) !=
            combinePixelByText(c, 0, CombineMode::RedBlue))
            QFAIL(qPrintable(QStringLiteral("left %1").arg(c, 0, 16)));
        if (combinePixel(0, c, CombineMode::RedGreen) !=
            combinePixelByText(0, c, CombineMode::RedGreen))
            QFAIL(qPrintable(QStringLiteral("right %1").arg(c, 0, 16)));
    }
}

// In "Normal" each output channel is the rounded mean of the same channel on both sides.
void PixelRuleTest::integerFormMatchesTextFormForEveryChannelPair() {
    for (int a = 0; a <= 255; ++a)
        for (int b = 0; b <= 255; ++b) {
            const ColorValue left = rgb(a, b, a);
            const ColorValue right = rgb(b, a, 255 - b);
            QCOMPARE(duoptica::combinePixel(left, right, CombineMode::Normal),
                     duoptica::combinePixelByText(left, right, CombineMode::Normal));
        }
}

void PixelRuleTest::integerFormMatchesTextFormOnRandomPairs() {
    std::mt19937 random(7);
    for (int i = 0; i < 200000; ++i) {
        const auto left = static_cast<ColorValue>(random());
        const auto right = static_cast<ColorValue>(random());
        for (CombineMode mode : {CombineMode::Normal, CombineMode::RedBlue, CombineMode::RedGreen})
            QCOMPARE(duoptica::combinePixel(left, right, mode),
                     duoptica::combinePixelByText(left, right, mode));
    }
}

QTEST_GUILESS_MAIN(PixelRuleTest)
#include "tst_pixelrule.moc"
