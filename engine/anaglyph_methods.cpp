#include "anaglyph_methods.h"

#include <cmath>
#include <cstdint>

#include <immintrin.h>

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
    // Three bytes past the last step, so that a four-byte load at any step stays inside.
    std::uint8_t encode[kEncodeSteps + 4] = {};

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

// duboisRow() eight pixels at a time with AVX2's gathers, for the table lookups that keep the
// compiler from vectorising it. The same operations in the same order, without fused
// multiply-adds, so every channel is the one duboisRow() gives.
#define DUOPTICA_AVX2 __attribute__((target("avx2"), always_inline)) inline

// The linear value of the channel at shift in each of eight pixels.
DUOPTICA_AVX2 __m256 decodeAvx2(__m256i pixels, int shift) {
    const __m256i channel =
        _mm256_and_si256(_mm256_srli_epi32(pixels, shift), _mm256_set1_epi32(0xFF));
    return _mm256_i32gather_ps(kTables.decode, channel, 4);
}

// The stored value of eight linear ones, each in the low byte of its lane.
DUOPTICA_AVX2 __m256i encodeAvx2(__m256 linear) {
    const __m256 clamped =
        _mm256_min_ps(_mm256_max_ps(linear, _mm256_setzero_ps()), _mm256_set1_ps(1.0f));
    const __m256i step = _mm256_cvttps_epi32(_mm256_add_ps(
        _mm256_mul_ps(clamped, _mm256_set1_ps(float(kEncodeSteps))), _mm256_set1_ps(0.5f)));
    // Four bytes from each step on, of which the first is the step's.
    const __m256i bytes =
        _mm256_i32gather_epi32(reinterpret_cast<const int *>(kTables.encode), step, 1);
    return _mm256_and_si256(bytes, _mm256_set1_epi32(0xFF));
}

// Returns the pixels done: all but those past the last multiple of eight.
__attribute__((target("avx2"), noinline)) std::size_t
duboisRowAvx2(const PackedPixel *left, const PackedPixel *right, PackedPixel *output,
              std::size_t count, const DuboisMatrices &m) {
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i l = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(left + i));
        const __m256i r = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(right + i));
        const __m256 lin[6] = {decodeAvx2(l, 16), decodeAvx2(l, 8), decodeAvx2(l, 0),
                               decodeAvx2(r, 16), decodeAvx2(r, 8), decodeAvx2(r, 0)};
        __m256i out = _mm256_set1_epi32(int(0xFF000000u));
        for (int row = 0; row < 3; ++row) {
            const float weights[6] = {m.left[row][0],  m.left[row][1],  m.left[row][2],
                                      m.right[row][0], m.right[row][1], m.right[row][2]};
            __m256 sum = _mm256_mul_ps(_mm256_set1_ps(weights[0]), lin[0]);
            for (int k = 1; k < 6; ++k)
                sum = _mm256_add_ps(sum, _mm256_mul_ps(_mm256_set1_ps(weights[k]), lin[k]));
            out = _mm256_or_si256(out, _mm256_slli_epi32(encodeAvx2(sum), 16 - 8 * row));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(output + i), out);
    }
    return i;
}

#undef DUOPTICA_AVX2

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

void duboisSpan(const PackedPixel *left, const PackedPixel *right, PackedPixel *output,
                std::size_t count, const DuboisMatrices &m) {
    static const bool hasAvx2 = __builtin_cpu_supports("avx2");
    const std::size_t done = hasAvx2 ? duboisRowAvx2(left, right, output, count, m) : 0;
    duboisRow(left + done, right + done, output + done, count - done, m);
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
        return duboisSpan(left, right, output, count, kRedCyan);
    case AnaglyphMethod::DuboisGreenMagenta:
        return duboisSpan(left, right, output, count, kGreenMagenta);
    case AnaglyphMethod::DuboisAmberBlue:
        return duboisSpan(left, right, output, count, kAmberBlue);
    default:
        return;
    }
}

} // namespace duoptica
