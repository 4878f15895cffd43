#include "combine_span.h"

namespace duoptica {

namespace {

// The mode is a template argument so that, once combineChannels() is inlined, its switch folds
// away and the loop body is straight-line integer code the compiler can vectorise. The loops are
// inlined into combineSpan() so that each of its builds (AVX2 and baseline) vectorises them for
// its own instruction set.
template <CombineMode Mode>
[[gnu::always_inline]] inline void combineRow(const PackedPixel *left, const PackedPixel *right,
                                              PackedPixel *output, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        output[i] =
            packedOf(combineChannels(channelsOfPacked(left[i]), channelsOfPacked(right[i]), Mode));
}

} // namespace

// Twice the lanes of the x86-64 baseline where the processor has them, chosen once at load time.
__attribute__((target_clones("avx2", "default"))) void
combineSpan(const PackedPixel *left, const PackedPixel *right, PackedPixel *output,
            std::size_t count, CombineMode mode) {
    switch (mode) {
    case CombineMode::Normal:
        return combineRow<CombineMode::Normal>(left, right, output, count);
    case CombineMode::RedBlue:
        return combineRow<CombineMode::RedBlue>(left, right, output, count);
    case CombineMode::RedGreen:
        return combineRow<CombineMode::RedGreen>(left, right, output, count);
    }
}

} // namespace duoptica
