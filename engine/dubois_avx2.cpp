// The plain loop eight pixels at a time with AVX2's gathers, for the table lookups that keep the
// compiler from vectorising it. The same operations in the same order, without fused
// multiply-adds, so every channel is the one the plain loop gives.
#include "dubois_kernels.h"
#include "srgb_transfer.h"

#include <immintrin.h>

namespace duoptica {

namespace {

#define DUOPTICA_AVX2 __attribute__((target("avx2"), always_inline)) inline

// The linear value of the channel at shift in each of eight pixels.
DUOPTICA_AVX2 __m256 decodeAvx2(const TransferTables &tables, __m256i pixels, int shift) {
    const __m256i channel =
        _mm256_and_si256(_mm256_srli_epi32(pixels, shift), _mm256_set1_epi32(0xFF));
    return _mm256_i32gather_ps(tables.decode, channel, 4);
}

// The stored value of eight linear ones, each in the low byte of its lane.
DUOPTICA_AVX2 __m256i encodeAvx2(const TransferTables &tables, __m256 linear) {
    const __m256 clamped =
        _mm256_min_ps(_mm256_max_ps(linear, _mm256_setzero_ps()), _mm256_set1_ps(1.0f));
    const __m256i step = _mm256_cvttps_epi32(_mm256_add_ps(
        _mm256_mul_ps(clamped, _mm256_set1_ps(float(kEncodeSteps))), _mm256_set1_ps(0.5f)));
    // Four bytes from each step on, of which the first is the step's.
    const __m256i bytes =
        _mm256_i32gather_epi32(reinterpret_cast<const int *>(tables.encode), step, 1);
    return _mm256_and_si256(bytes, _mm256_set1_epi32(0xFF));
}

#undef DUOPTICA_AVX2

} // namespace

__attribute__((target("avx2"))) std::size_t duboisRowAvx2(const PackedPixel *left,
                                                          const PackedPixel *right,
                                                          PackedPixel *output, std::size_t count,
                                                          const DuboisMatrices &m) {
    const TransferTables &tables = transferTables();
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const __m256i l = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(left + i));
        const __m256i r = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(right + i));
        const __m256 lin[6] = {decodeAvx2(tables, l, 16), decodeAvx2(tables, l, 8),
                               decodeAvx2(tables, l, 0),  decodeAvx2(tables, r, 16),
                               decodeAvx2(tables, r, 8),  decodeAvx2(tables, r, 0)};
        __m256i out = _mm256_set1_epi32(int(0xFF000000u));
        for (int row = 0; row < 3; ++row) {
            const float weights[6] = {m.left[row][0],  m.left[row][1],  m.left[row][2],
                                      m.right[row][0], m.right[row][1], m.right[row][2]};
            __m256 sum = _mm256_mul_ps(_mm256_set1_ps(weights[0]), lin[0]);
            for (int k = 1; k < 6; ++k)
                sum = _mm256_add_ps(sum, _mm256_mul_ps(_mm256_set1_ps(weights[k]), lin[k]));
            out = _mm256_or_si256(out, _mm256_slli_epi32(encodeAvx2(tables, sum), 16 - 8 * row));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(output + i), out);
    }
    return i;
}

} // namespace duoptica
