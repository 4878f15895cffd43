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

QTEST_GUILESS_MAIN(CombineSpanTest)
#include "tst_combinespan.moc"
