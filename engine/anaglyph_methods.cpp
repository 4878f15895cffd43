#include "anaglyph_methods.h"

#include <cmath>
#include <cstdint>

namespace duoptica {

namespace {

// Rows are the output's red, green and blue; columns the input's red, green and blue.
struct DuboisMatrices {
    float left[3][3];
    float right[3][3];
};

// E. Dubois, "Conversion of a Stereo Pair to Anaglyph with the Least-Squares Projection Method"
// (2009 revision).
constexpr DuboisMatrices kRedCyan{
    {{0.437f, 0.449f, 0.164f}, {-0.062f, -0.062f, -0.024f}, {-0.048f, -0.050f, -0.017f}},
    {{-0.011f, -0.032f, -0.007f}, {0.377f, 0.761f, 0.009f}, {-0.026f, -0.093f, 1.234f}}};
constexpr DuboisMatrices kGreenMagenta{
    {{-0.062f, -0.158f, -0.039f}, {0.284f, 0.668f, 0.143f}, {-0.015f, -0.027f, 0.021f}},
    {{0.529f, 0.705f, 0.024f}, {-0.016f, -0.015f, -0.065f}, {0.009f, 0.075f, 0.937f}}};
constexpr DuboisMatrices kAmberBlue{
    {{1.062f, -0.205f, 0.299f}, {-0.026f, 0.908f, 0.068f}, {-0.038f, -0.173f, 0.022f}},
    {{-0.016f, -0.123f, -0.017f}, {0.006f, 0.062f, -0.017f}, {0.094f, 0.185f, 0.911f}}};

double srgbToLinear(double encoded) {
    return encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
}

double linearToSrgb(double linear) {
    return linear <= 0.0031308 ? linear * 12.92 : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

// One step of the encode table is at most 0.05 of an output level (the curve is steepest at
// black, 12.92 x 255 levels per unit), so a looked-up channel differs from the exact one only
// where the exact value lies within 0.025 of a half.
constexpr int kEncodeSteps = 1 << 16;

struct TransferTables {
    float decode[256];
    std::uint8_t encode[kEncodeSteps + 1];

    TransferTables() {
        for (int c = 0; c < 256; ++c)
            decode[c] = static_cast<float>(srgbToLinear(c / 255.0));
        for (int i = 0; i <= kEncodeSteps; ++i)
            encode[i] = static_cast<std::uint8_t>(
                std::nearbyint(linearToSrgb(double(i) / kEncodeSteps) * 255));
    }
};

const TransferTables kTables;

[[gnu::always_inline]] inline int encodeLinear(float linear) {
    const float clamped = linear < 0.0f ? 0.0f : linear > 1.0f ? 1.0f : linear;
    return kTables.encode[static_cast<int>(clamped * kEncodeSteps + 0.5f)];
}

[[gnu::always_inline]] inline void duboisRow(const PackedPixel *left, const PackedPixel *right,
                                             PackedPixel *output, std::size_t count,
                                             const DuboisMatrices &m) {
    for (std::size_t i = 0; i < count; ++i) {
        const Channels l = channelsOfPacked(left[i]);
        const Channels r = channelsOfPacked(right[i]);
        const float lin[6] = {kTables.decode[l.red],   kTables.decode[l.green],
                              kTables.decode[l.blue],  kTables.decode[r.red],
                              kTables.decode[r.green], kTables.decode[r.blue]};
        int out[3];
        for (int row = 0; row < 3; ++row)
            out[row] = encodeLinear(m.left[row][0] * lin[0] + m.left[row][1] * lin[1] +
                                    m.left[row][2] * lin[2] + m.right[row][0] * lin[3] +
                                    m.right[row][1] * lin[4] + m.right[row][2] * lin[5]);
        output[i] = packedOf({out[0], out[1], out[2]});
    }
}

// 0.299 r + 0.587 g + 0.114 b rounded half to even, exactly: the sum in thousandths is a whole
// number below 2^24, which a float holds exactly, and its quotient by 1000 is rounded correctly,
// so a true half stays a half and nothing else becomes one. Adding and taking away 1.5 x 2^23
// then rounds to the even neighbour, as the default rounding mode does; unlike a division in
// integers, all of it vectorises.
[[gnu::always_inline]] inline int luminance(Channels c) {
    constexpr float kRounder = 12582912.0f;
    const float thousandths = float(299 * c.red + 587 * c.green + 114 * c.blue);
    return static_cast<int>((thousandths / 1000.0f + kRounder) - kRounder);
}

// The classic methods, on the stored values.
template <AnaglyphMethod Method>
[[gnu::always_inline]] inline Channels classicChannels(Channels l, Channels r) {
    if constexpr (Method == AnaglyphMethod::True)
        return {luminance(l), 0, luminance(r)};
    else if constexpr (Method == AnaglyphMethod::Gray)
        return {luminance(l), luminance(r), luminance(r)};
    else if constexpr (Method == AnaglyphMethod::Color)
        return {l.red, r.green, r.blue};
    else
        return {luminance(l), r.green, r.blue};
}

template <AnaglyphMethod Method>
[[gnu::always_inline]] inline void classicRow(const PackedPixel *left, const PackedPixel *right,
                                              PackedPixel *output, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        output[i] = packedOf(
            classicChannels<Method>(channelsOfPacked(left[i]), channelsOfPacked(right[i])));
}

} // namespace

// As combineSpan(): twice the lanes where the processor has them, chosen once at load time.
__attribute__((target_clones("avx2", "default"))) void
combineMethodSpan(const PackedPixel *left, const PackedPixel *right, PackedPixel *output,
                  std::size_t count, AnaglyphMethod method) {
    if (const std::optional<CombineMode> mode = windowModeOf(method))
        return combineSpan(left, right, output, count, *mode);
    switch (method) {
    case AnaglyphMethod::True:
        return classicRow<AnaglyphMethod::True>(left, right, output, count);
    case AnaglyphMethod::Gray:
        return classicRow<AnaglyphMethod::Gray>(left, right, output, count);
    case AnaglyphMethod::Color:
        return classicRow<AnaglyphMethod::Color>(left, right, output, count);
    case AnaglyphMethod::HalfColor:
        return classicRow<AnaglyphMethod::HalfColor>(left, right, output, count);
    case AnaglyphMethod::DuboisRedCyan:
        return duboisRow(left, right, output, count, kRedCyan);
    case AnaglyphMethod::DuboisGreenMagenta:
        return duboisRow(left, right, output, count, kGreenMagenta);
    case AnaglyphMethod::DuboisAmberBlue:
        return duboisRow(left, right, output, count, kAmberBlue);
    default:
        return;
    }
}

} // namespace duoptica
