// The plain loop sixteen pixels at a time with AVX-512, without gathers: the decode table is
// looked up with VBMI's byte permutes, and the encode table is replaced by a polynomial whose
// answer is taken only where it cannot round the other way than the table; the few channels
// that could are looked up. Every channel is the one the plain loop gives.
#include "dubois_kernels.h"
#include "srgb_transfer.h"

// GCC 12's AVX-512 intrinsics start from a deliberately undefined vector, which its own
// uninitialised-use warnings then report inside the header.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace duoptica {

namespace {

#define DUOPTICA_AVX512_TARGET target("avx512f,avx512bw,avx512vbmi")
#define DUOPTICA_AVX512 __attribute__((DUOPTICA_AVX512_TARGET, always_inline)) inline

// Degree 5 leaves about one channel in eighty to the table; every further degree costs more
// than the lookups it saves.
constexpr int kDegree = 5;

// The last step of the encode table on the curve's straight part (linear <= 0.0031308).
constexpr float kLastStraightStep = 205.5f;

struct Avx512Tables {
    // Byte p of decode[c] is planes[p][c]: four 256-byte tables, each looked up 64 channels at a
    // time with two two-register permutes.
    alignas(64) std::uint8_t planes[4][256];
    // Where the bytes of output channel o (red, green, blue) of pixel i lie in the looked-up
    // planes: 4i + c in the first table of a permute, 64 + 4i + c in the second.
    alignas(64) std::uint8_t channelBytes[3][64];
    // 255 x 1.055 x 2^((e - 16) / 2.4) at e mod 16, for the binary exponents e (7 to 16) of the
    // steps on the curve's power part.
    alignas(64) float scaledPowers[16];
    // m^(1 / 2.4) for m in [1, 2], as a polynomial in u = 2m - 3.
    float coefficients[kDegree + 1];
    // A level the polynomial puts further than this from a whole number may round either way.
    float sureWithin = 0;
};

// Chebyshev interpolation of m^(1 / 2.4) on [1, 2], turned into powers of u in [-1, 1].
void fitPolynomial(float (&coefficients)[kDegree + 1]) {
    constexpr int nodes = kDegree + 1;
    double chebyshev[nodes] = {};
    for (int k = 0; k < nodes; ++k) {
        for (int j = 0; j < nodes; ++j) {
            const double angle = std::numbers::pi * (j + 0.5) / nodes;
            chebyshev[k] += std::pow(1.5 + 0.5 * std::cos(angle), 1 / 2.4) * std::cos(k * angle);
        }
        chebyshev[k] *= (k == 0 ? 1.0 : 2.0) / nodes;
    }
    // T(k+1) = 2u T(k) - T(k-1), each kept as its powers of u.
    double previous[nodes] = {1}, current[nodes] = {0, 1}, powers[nodes] = {chebyshev[0]};
    for (int k = 1; k < nodes; ++k) {
        for (int i = 0; i < nodes; ++i)
            powers[i] += chebyshev[k] * current[i];
        double next[nodes] = {};
        for (int i = 0; i < nodes; ++i)
            next[i] = (i > 0 ? 2 * current[i - 1] : 0) - previous[i];
        std::copy(current, current + nodes, previous);
        std::copy(next, next + nodes, current);
    }
    for (int i = 0; i < nodes; ++i)
        coefficients[i] = static_cast<float>(powers[i]);
}

// The output level (0..255, not rounded) of sixteen encode steps, each a whole number in a float.
DUOPTICA_AVX512 __m512 approximateLevel(const Avx512Tables &tables, __m512 step) {
    const __m512 mantissa = _mm512_getmant_ps(step, _MM_MANT_NORM_1_2, _MM_MANT_SIGN_src);
    const __m512 u = _mm512_fmadd_ps(mantissa, _mm512_set1_ps(2.0f), _mm512_set1_ps(-3.0f));
    __m512 root = _mm512_set1_ps(tables.coefficients[kDegree]);
#pragma GCC unroll 8
    for (int i = kDegree - 1; i >= 0; --i)
        root = _mm512_fmadd_ps(root, u, _mm512_set1_ps(tables.coefficients[i]));
    // Only the low four bits of the exponent pick the power.
    const __m512i exponent = _mm512_cvttps_epi32(_mm512_getexp_ps(step));
    const __m512 power =
        _mm512_fmadd_ps(root, _mm512_permutexvar_ps(exponent, _mm512_load_ps(tables.scaledPowers)),
                        _mm512_set1_ps(-255 * 0.055f));
    const __mmask16 straight =
        _mm512_cmp_ps_mask(step, _mm512_set1_ps(kLastStraightStep), _CMP_LE_OQ);
    return _mm512_mask_mul_ps(power, straight, step,
                              _mm512_set1_ps(float(255 * 12.92 / kEncodeSteps)));
}

// How far the polynomial strays from the exact level, over every step the table has.
__attribute__((DUOPTICA_AVX512_TARGET)) double worstLevelError(const Avx512Tables &tables) {
    double worst = 0;
    for (int first = 0; first <= kEncodeSteps; first += 16) {
        alignas(64) float steps[16], levels[16];
        for (int i = 0; i < 16; ++i)
            steps[i] = float(std::min(first + i, kEncodeSteps));
        _mm512_store_ps(levels, approximateLevel(tables, _mm512_load_ps(steps)));
        for (int i = 0; i < 16; ++i)
            worst =
                std::max(worst, std::abs(levels[i] - linearToSrgb(steps[i] / kEncodeSteps) * 255));
    }
    return worst;
}

Avx512Tables makeTables() {
    Avx512Tables tables{};
    const TransferTables &transfer = transferTables();
    for (int c = 0; c < 256; ++c) {
        std::uint32_t bits;
        std::memcpy(&bits, &transfer.decode[c], sizeof bits);
        for (int p = 0; p < 4; ++p)
            tables.planes[p][c] = std::uint8_t(bits >> 8 * p);
    }
    for (int o = 0; o < 3; ++o) {
        const int channel = 2 - o; // the byte of a packed pixel: blue 0, green 1, red 2
        for (int i = 0; i < 16; ++i) {
            for (int half : {0, 2}) {
                tables.channelBytes[o][4 * i + half] = std::uint8_t(4 * i + channel);
                tables.channelBytes[o][4 * i + half + 1] = std::uint8_t(64 + 4 * i + channel);
            }
        }
    }
    for (int e = 7; e <= 16; ++e)
        tables.scaledPowers[e & 15] = float(255 * 1.055 * std::pow(2.0, (e - 16) / 2.4));
    fitPolynomial(tables.coefficients);
    if (hasAvx512Kernel()) {
        // A level within 0.5 - worst of a whole number rounds to it whatever the exact value is;
        // the margin covers the float arithmetic of that comparison.
        tables.sureWithin = float(0.5 - worstLevelError(tables) - 1e-4);
    }
    return tables;
}

const Avx512Tables &avx512Tables() {
    static const Avx512Tables tables = makeTables();
    return tables;
}

// The linear red, green and blue of sixteen packed pixels, exactly the decode table's floats.
DUOPTICA_AVX512 void decodeEye(const Avx512Tables &tables, __m512i pixels, __m512 (&linear)[3]) {
    // Two permutes look up 128 entries each; the top bit of a channel picks between them.
    const __mmask64 upper = _mm512_movepi8_mask(pixels);
    __m512i plane[4];
#pragma GCC unroll 4
    for (int p = 0; p < 4; ++p) {
        const auto *quarter = reinterpret_cast<const __m512i *>(tables.planes[p]);
        const __m512i lower = _mm512_permutex2var_epi8(_mm512_load_si512(quarter), pixels,
                                                       _mm512_load_si512(quarter + 1));
        const __m512i higher = _mm512_permutex2var_epi8(_mm512_load_si512(quarter + 2), pixels,
                                                        _mm512_load_si512(quarter + 3));
        plane[p] = _mm512_mask_blend_epi8(upper, lower, higher);
    }
    // The low two bytes of each float come from planes 0 and 1; the permute leaves the
    // selector's bytes where it does not write, which are then the selector of the high two.
#pragma GCC unroll 3
    for (int o = 0; o < 3; ++o) {
        const __m512i low = _mm512_mask2_permutex2var_epi8(
            plane[0], _mm512_load_si512(tables.channelBytes[o]), 0x3333333333333333ull, plane[1]);
        linear[o] = _mm512_castsi512_ps(
            _mm512_mask2_permutex2var_epi8(plane[2], low, 0xCCCCCCCCCCCCCCCCull, plane[3]));
    }
}

// The stored value of sixteen linear ones, each in its lane: the encode table's, as encodeStep()
// picks the step.
DUOPTICA_AVX512 __m512i encodeAvx512(const Avx512Tables &tables, const TransferTables &transfer,
                                     __m512 linear) {
    const __m512 clamped =
        _mm512_min_ps(_mm512_max_ps(linear, _mm512_setzero_ps()), _mm512_set1_ps(1.0f));
    // The product is exact, so one rounding as in encodeStep().
    const __m512 step = _mm512_roundscale_ps(
        _mm512_fmadd_ps(clamped, _mm512_set1_ps(float(kEncodeSteps)), _mm512_set1_ps(0.5f)),
        _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    const __m512 level = approximateLevel(tables, step);
    const __m512 nearest =
        _mm512_roundscale_ps(level, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    __m512i stored = _mm512_cvtps_epi32(nearest);
    const __mmask16 unsure = _mm512_cmp_ps_mask(_mm512_abs_ps(_mm512_sub_ps(level, nearest)),
                                                _mm512_set1_ps(tables.sureWithin), _CMP_GT_OQ);
    if (unsure) [[unlikely]] {
        alignas(64) std::int32_t steps[16], levels[16];
        _mm512_store_si512(steps, _mm512_cvtps_epi32(step));
        _mm512_store_si512(levels, stored);
        for (unsigned lanes = unsure; lanes != 0; lanes &= lanes - 1) {
            const int lane = __builtin_ctz(lanes);
            levels[lane] = transfer.encode[steps[lane]];
        }
        stored = _mm512_load_si512(levels);
    }
    return stored;
}

#undef DUOPTICA_AVX512

} // namespace

bool hasAvx512Kernel() {
    static const bool has = __builtin_cpu_supports("avx512f") &&
                            __builtin_cpu_supports("avx512bw") &&
                            __builtin_cpu_supports("avx512vbmi");
    return has;
}

__attribute__((DUOPTICA_AVX512_TARGET)) std::size_t
duboisRowAvx512(const PackedPixel *left, const PackedPixel *right, PackedPixel *output,
                std::size_t count, const DuboisMatrices &m) {
    const Avx512Tables &tables = avx512Tables();
    const TransferTables &transfer = transferTables();
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        __m512 leftLinear[3], rightLinear[3];
        decodeEye(tables, _mm512_loadu_si512(left + i), leftLinear);
        decodeEye(tables, _mm512_loadu_si512(right + i), rightLinear);
        __m512i out = _mm512_set1_epi32(int(0xFF000000u));
#pragma GCC unroll 3
        for (int row = 0; row < 3; ++row) {
            // The plain loop's sum, term by term; the file is built without contraction into
            // fused multiply-adds, which would round differently.
            __m512 sum = _mm512_mul_ps(_mm512_set1_ps(m.left[row][0]), leftLinear[0]);
            for (int k = 1; k < 3; ++k)
                sum = _mm512_add_ps(sum,
                                    _mm512_mul_ps(_mm512_set1_ps(m.left[row][k]), leftLinear[k]));
            for (int k = 0; k < 3; ++k)
                sum = _mm512_add_ps(sum,
                                    _mm512_mul_ps(_mm512_set1_ps(m.right[row][k]), rightLinear[k]));
            out = _mm512_or_si512(
                out, _mm512_slli_epi32(encodeAvx512(tables, transfer, sum), 16 - 8 * row));
        }
        _mm512_storeu_si512(output + i, out);
    }
    return i;
}

#undef DUOPTICA_AVX512_TARGET

} // namespace duoptica
