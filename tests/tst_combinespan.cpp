// Whole rows combined at once must give, pixel for pixel, what the literal rule gives.
#include "combine_span.h"
#include "test_pixels.h"

#include <QTest>

#include <array>
#include <vector>

using duoptica::CombineMode;
using duoptica::PackedPixel;

Q_DECLARE_METATYPE(CombineMode)

class CombineSpanTest : public QObject {
    Q_OBJECT

private slots:
    void matchesTheRuleForEveryPixel_data();
    void matchesTheRuleForEveryPixel();
    void combinesInPlace_data();
    void combinesInPlace();
    void knownPixels_data();
    void knownPixels();
};

void CombineSpanTest::matchesTheRuleForEveryPixel_data() {
    QTest::addColumn<CombineMode>("mode");
    QTest::addColumn<int>("length");
    const std::array<std::pair<const char *, CombineMode>, 3> modes{
        {{"normal", CombineMode::Normal},
         {"red-blue", CombineMode::RedBlue},
         {"red-green", CombineMode::RedGreen}}};
    // Lengths around the vector widths exercise the scalar tail as well as the vector body.
    for (const auto &[name, mode] : modes) {
        for (int length : {0, 1, 3, 4, 5, 8, 17, 64 * 1024 + 7})
            QTest::addRow("%s, %d pixels", name, length) << mode << length;
    }
}

void CombineSpanTest::matchesTheRuleForEveryPixel() {
    QFETCH(CombineMode, mode);
    QFETCH(int, length);
    RandomPixels source(unsigned(length) * 7 + unsigned(mode));
    std::vector<PackedPixel> left(length), right(length);
    for (int i = 0; i < length; ++i) {
        left[i] = source.next();
        right[i] = source.next();
    }
    // A guard word past the end catches a write beyond the span.
    std::vector<PackedPixel> output(length + 1, 0x12345678u);

    duoptica::combineSpan(left.data(), right.data(), output.data(), left.size(), mode);

    for (int i = 0; i < length; ++i) {
        if (output[i] != referencePixel(left[i], right[i], mode))
            QFAIL(
                qPrintable(QStringLiteral("pixel %1: left %2 right %3 gave %4, the rule %5")
                               .arg(i)
                               .arg(left[i], 8, 16, QChar(u'0'))
                               .arg(right[i], 8, 16, QChar(u'0'))
                               .arg(output[i], 8, 16, QChar(u'0'))
                               .arg(referencePixel(left[i], right[i], mode), 8, 16, QChar(u'0'))));
    }
    QCOMPARE(output[length], 0x12345678u);
}

void CombineSpanTest::combinesInPlace_data() {
    QTest::addColumn<bool>("intoLeft");
    QTest::newRow("output is the left row") << true;
    QTest::newRow("output is the right row") << false;
}

void CombineSpanTest::combinesInPlace() {
    QFETCH(bool, intoLeft);
    RandomPixels source(99);
    std::vector<PackedPixel> left(1000), right(1000);
    for (std::size_t i = 0; i < left.size(); ++i) {
        left[i] = source.next();
        right[i] = source.next();
    }
    const std::vector<PackedPixel> leftBefore = left, rightBefore = right;

    PackedPixel *output = intoLeft ? left.data() : right.data();
    duoptica::combineSpan(left.data(), right.data(), output, left.size(), CombineMode::RedBlue);

    for (std::size_t i = 0; i < left.size(); ++i)
        QCOMPARE(output[i], referencePixel(leftBefore[i], rightBefore[i], CombineMode::RedBlue));
}

void CombineSpanTest::knownPixels_data() {
    QTest::addColumn<CombineMode>("mode");
    QTest::addColumn<PackedPixel>("left");
    QTest::addColumn<PackedPixel>("right");
    QTest::addColumn<PackedPixel>("expected");
    QTest::newRow("normal: white and black meet at 128")
        << CombineMode::Normal << PackedPixel(0xFFFFFFFF) << PackedPixel(0xFF000000)
        << PackedPixel(0xFF808080);
    QTest::newRow("normal: 2.5 goes down to 2, 1.5 up to 2")
        << CombineMode::Normal << PackedPixel(0xFF020102) << PackedPixel(0xFF030203)
        << PackedPixel(0xFF020202);
    QTest::newRow("red-blue: green left, red right")
        << CombineMode::RedBlue << PackedPixel(0xFF00C800) << PackedPixel(0xFFB40000)
        << PackedPixel(0xFF64005A);
    QTest::newRow("red-green: the right side lands in green")
        << CombineMode::RedGreen << PackedPixel(0xFF00C800) << PackedPixel(0xFFB40000)
        << PackedPixel(0xFF645A00);
    QTest::newRow("red-blue: ties keep the home channels")
        << CombineMode::RedBlue << PackedPixel(0xFF0AC8C8) << PackedPixel(0xFFC8C80A)
        << PackedPixel(0xFF050005);
    QTest::newRow("red-blue: the alpha byte counts for nothing")
        << CombineMode::RedBlue << PackedPixel(0x00FF0000) << PackedPixel(0x7F0000FF)
        << PackedPixel(0xFF800080);
}

void CombineSpanTest::knownPixels() {
    QFETCH(CombineMode, mode);
    QFETCH(PackedPixel, left);
    QFETCH(PackedPixel, right);
    QFETCH(PackedPixel, expected);
    PackedPixel output = 0;
    duoptica::combineSpan(&left, &right, &output, 1, mode);
    QCOMPARE(output, expected);
}

QTEST_GUILESS_MAIN(CombineSpanTest)
#include "tst_combinespan.moc"
