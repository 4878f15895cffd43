// Whole rows combined at once must give, pixel for pixel, what the literal rule gives; the tool's
// other anaglyph methods what their formulas give.
#include "anaglyph_methods.h"
#include "combine_span.h"
#include "dubois_kernels.h"
#include "test_pixels.h"

#include <QTest>

#include <array>
#include <cmath>
#include <vector>

using duoptica::AnaglyphMethod;
using duoptica::CombineMode;
using duoptica::PackedPixel;

Q_DECLARE_METATYPE(AnaglyphMethod)
Q_DECLARE_METATYPE(CombineMode)

namespace {

// The methods as they are defined, in double precision, each channel rounded half to even.
std::array<double, 3> exactChannels(std::array<int, 3> l, std::array<int, 3> r,
                                    AnaglyphMethod method) {
    const auto lum = [](std::array<int, 3> c) {
        return 0.299 * c[0] + 0.587 * c[1] + 0.114 * c[2];
    };
    using Matrix = std::array<std::array<double, 3>, 3>;
    const auto dubois = [&](const Matrix &ml, const Matrix &mr) {
        const auto decode = [](int c) {
            const double v = c / 255.0;
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        std::array<double, 3> out{};
        for (int row = 0; row < 3; ++row) {
            double v = 0;
            for (int col = 0; col < 3; ++col)
                v += ml[row][col] * decode(l[col]) + mr[row][col] * decode(r[col]);
            v = std::clamp(v, 0.0, 1.0);
            out[row] = 255 * (v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1 / 2.4) - 0.055);
        }
        return out;
    };
    switch (method) {
    case AnaglyphMethod::True:
        return {lum(l), 0, lum(r)};
    case AnaglyphMethod::Gray:
        return {lum(l), lum(r), lum(r)};
    case AnaglyphMethod::Color:
        return {double(l[0]), double(r[1]), double(r[2])};
    case AnaglyphMethod::HalfColor:
        return {lum(l), double(r[1]), double(r[2])};
    case AnaglyphMethod::DuboisRedCyan:
        return dubois({{{0.437, 0.449, 0.164}, {-0.062, -0.062, -0.024}, {-0.048, -0.050, -0.017}}},
                      {{{-0.011, -0.032, -0.007}, {0.377, 0.761, 0.009}, {-0.026, -0.093, 1.234}}});
    case AnaglyphMethod::DuboisGreenMagenta:
        return dubois({{{-0.062, -0.158, -0.039}, {0.284, 0.668, 0.143}, {-0.015, -0.027, 0.021}}},
                      {{{0.529, 0.705, 0.024}, {-0.016, -0.015, -0.065}, {0.009, 0.075, 0.937}}});
    case AnaglyphMethod::DuboisAmberBlue:
        return dubois({{{1.062, -0.205, 0.299}, {-0.026, 0.908, 0.068}, {-0.038, -0.173, 0.022}}},
                      {{{-0.016, -0.123, -0.017}, {0.006, 0.062, -0.017}, {0.094, 0.185, 0.911}}});
    default:
        return {-1, -1, -1};
    }
}

std::array<int, 3> channelsOf(PackedPixel p) {
    return {int(p >> 16 & 0xFF), int(p >> 8 & 0xFF), int(p & 0xFF)};
}

PackedPixel packed(std::array<int, 3> c) {
    return 0xFF000000u | PackedPixel(c[0]) << 16 | PackedPixel(c[1]) << 8 | PackedPixel(c[2]);
}

PackedPixel combinedByMethod(PackedPixel left, PackedPixel right, AnaglyphMethod method) {
    PackedPixel output = 0;
    duoptica::combineMethodSpan(&left, &right, &output, 1, method);
    return output;
}

using Rgb = std::array<int, 3>;

} // namespace

Q_DECLARE_METATYPE(Rgb)

class CombineSpanTest : public QObject {
    Q_OBJECT

private slots:
    void matchesTheRuleForEveryPixel_data();
    void matchesTheRuleForEveryPixel();
    void combinesInPlace_data();
    void combinesInPlace();
    void methodsGiveTheWorkedCases_data();
    void methodsGiveTheWorkedCases();
    void methodsStayWithinOneOfTheirFormula_data();
    void methodsStayWithinOneOfTheirFormula();
    void duboisKernelsMatchThePlainLoop_data();
    void duboisKernelsMatchThePlainLoop();
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

void CombineSpanTest::methodsGiveTheWorkedCases_data() {
    QTest::addColumn<AnaglyphMethod>("method");
    QTest::addColumn<Rgb>("left");
    QTest::addColumn<Rgb>("right");
    QTest::addColumn<Rgb>("expected");
    const Rgb white{255, 255, 255}, black{0, 0, 0};
    // 2, 0, 43 has luminance 5.5; 0, 0, 250 has 28.5; 1, 1, 251 has 29.5.
    QTest::newRow("true, halves to even")
        << AnaglyphMethod::True << Rgb{2, 0, 43} << Rgb{0, 0, 250} << Rgb{6, 0, 28};
    QTest::newRow("true, white and red")
        << AnaglyphMethod::True << white << Rgb{255, 0, 0} << Rgb{255, 0, 76};
    QTest::newRow("gray, halves to even")
        << AnaglyphMethod::Gray << Rgb{1, 1, 251} << Rgb{2, 0, 43} << Rgb{30, 6, 6};
    QTest::newRow("color") << AnaglyphMethod::Color << Rgb{10, 20, 30} << Rgb{40, 50, 60}
                           << Rgb{10, 50, 60};
    QTest::newRow("half-color, a half")
        << AnaglyphMethod::HalfColor << Rgb{0, 0, 250} << Rgb{1, 2, 3} << Rgb{28, 2, 3};
    QTest::newRow("dubois-red-cyan, clamped above and below")
        << AnaglyphMethod::DuboisRedCyan << white << black << Rgb{255, 0, 0};
    QTest::newRow("dubois-red-cyan, right white")
        << AnaglyphMethod::DuboisRedCyan << black << white << Rgb{0, 255, 255};
    QTest::newRow("dubois-red-cyan, colours") << AnaglyphMethod::DuboisRedCyan << Rgb{200, 100, 50}
                                              << Rgb{30, 160, 220} << Rgb{149, 133, 233};
    QTest::newRow("dubois-green-magenta, clamped")
        << AnaglyphMethod::DuboisGreenMagenta << white << black << Rgb{0, 255, 0};
    QTest::newRow("dubois-green-magenta, colours")
        << AnaglyphMethod::DuboisGreenMagenta << Rgb{200, 100, 50} << Rgb{30, 160, 220}
        << Rgb{128, 124, 216};
    QTest::newRow("dubois-amber-blue, clamped")
        << AnaglyphMethod::DuboisAmberBlue << black << white << Rgb{0, 64, 255};
    QTest::newRow("dubois-amber-blue, dark colours")
        << AnaglyphMethod::DuboisAmberBlue << Rgb{10, 20, 30} << Rgb{40, 50, 60} << Rgb{2, 23, 62};
}

void CombineSpanTest::methodsGiveTheWorkedCases() {
    QFETCH(AnaglyphMethod, method);
    QFETCH(Rgb, left);
    QFETCH(Rgb, right);
    QFETCH(Rgb, expected);
    QCOMPARE(channelsOf(combinedByMethod(packed(left), packed(right), method)), expected);
}

void CombineSpanTest::methodsStayWithinOneOfTheirFormula_data() {
    QTest::addColumn<AnaglyphMethod>("method");
    for (const duoptica::MethodName &method : duoptica::kMethodNames) {
        if (!duoptica::windowModeOf(method.method))
            QTest::newRow(method.name.data()) << method.method;
    }
}

void CombineSpanTest::methodsStayWithinOneOfTheirFormula() {
    QFETCH(AnaglyphMethod, method);
    // Odd, so that the vector loop leaves a tail.
    constexpr std::size_t count = 100'003;
    RandomPixels source{static_cast<unsigned>(method)};
    std::vector<PackedPixel> left(count), right(count), output(count);
    for (std::size_t i = 0; i < count; ++i) {
        left[i] = source.next();
        right[i] = source.next();
    }
    duoptica::combineMethodSpan(left.data(), right.data(), output.data(), count, method);

    std::size_t exact = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::array<double, 3> want =
            exactChannels(channelsOf(left[i]), channelsOf(right[i]), method);
        const Rgb got = channelsOf(output[i]);
        bool same = true;
        for (int c = 0; c < 3; ++c) {
            if (std::abs(got[c] - want[c]) > 1)
                QFAIL(qPrintable(QStringLiteral("pixel %1, channel %2: %3, the formula %4")
                                     .arg(i)
                                     .arg(c)
                                     .arg(got[c])
                                     .arg(want[c])));
            same &= got[c] == int(std::nearbyint(want[c]));
        }
        exact += same;
        QCOMPARE(output[i] >> 24, 0xFFu);
        // The vector loop gives what a pixel on its own gives, bit for bit.
        if (output[i] != combinedByMethod(left[i], right[i], method))
            QFAIL(qPrintable(QStringLiteral("pixel %1 differs from the pixel alone").arg(i)));
    }
    // Within one is the promise; a table that is off everywhere by one would still keep it.
    QVERIFY2(exact > count * 99 / 100, qPrintable(QString::number(exact)));
}

void CombineSpanTest::duboisKernelsMatchThePlainLoop_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<AnaglyphMethod>("method");
    const std::array<std::pair<const char *, AnaglyphMethod>, 3> methods{
        {{"red-cyan", AnaglyphMethod::DuboisRedCyan},
         {"green-magenta", AnaglyphMethod::DuboisGreenMagenta},
         {"amber-blue", AnaglyphMethod::DuboisAmberBlue}}};
    // The span above takes the widest kernel, so on a processor with AVX-512 the AVX2 one would
    // otherwise go untried.
    for (const auto &[name, method] : methods) {
        QTest::addRow("AVX2, %s", name) << 8 << method;
        QTest::addRow("AVX-512, %s", name) << 16 << method;
    }
}

void CombineSpanTest::duboisKernelsMatchThePlainLoop() {
    QFETCH(int, width);
    QFETCH(AnaglyphMethod, method);
    if (width == 8 ? !__builtin_cpu_supports("avx2") : !duoptica::hasAvx512Kernel())
        QSKIP("this processor lacks the kernel's instructions");
    const auto kernel = width == 8 ? duoptica::duboisRowAvx2 : duoptica::duboisRowAvx512;
    const duoptica::DuboisMatrices &matrices =
        method == AnaglyphMethod::DuboisRedCyan        ? duoptica::kDuboisRedCyan
        : method == AnaglyphMethod::DuboisGreenMagenta ? duoptica::kDuboisGreenMagenta
                                                       : duoptica::kDuboisAmberBlue;
    constexpr std::size_t count = 100'005;
    RandomPixels source{static_cast<unsigned>(method) + 11u};
    std::vector<PackedPixel> left(count), right(count), output(count, 0x12345678u);
    for (std::size_t i = 0; i < count; ++i) {
        left[i] = source.next();
        right[i] = source.next();
    }
    const std::size_t done = kernel(left.data(), right.data(), output.data(), count, matrices);

    QCOMPARE(done, count / width * width);
    for (std::size_t i = 0; i < done; ++i) {
        if (output[i] != combinedByMethod(left[i], right[i], method))
            QFAIL(qPrintable(QStringLiteral("pixel %1 differs from the pixel alone").arg(i)));
    }
    for (std::size_t i = done; i < count; ++i)
        QCOMPARE(output[i], 0x12345678u);
}

QTEST_GUILESS_MAIN(CombineSpanTest)
#include "tst_combinespan.moc"
