#include "area_shrink.h"

#include <emmintrin.h>

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace duoptica {

namespace {

// The four channels of a pixel as floats, in memory order.
__m128 channels(PackedPixel pixel) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bytes = _mm_cvtsi32_si128(int(pixel));
    return _mm_cvtepi32_ps(_mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero), zero));
}

// Each channel rounded to the nearest integer, ties to even, and held to 0..255.
PackedPixel rounded(__m128 value) {
    const __m128i whole = _mm_cvtps_epi32(value);
    const __m128i words = _mm_packs_epi32(whole, whole);
    return PackedPixel(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
}

// A side whose source length is a whole multiple of the output's, reckoned as OpenCV reckons it:
// the ratio from the sizes' quotient, inverted, within a rounding step of a whole number. The
// multiple, or 0.
int wholeRatio(int source, int output) {
    const double ratio = 1. / (double(output) / source);
    const double whole = std::nearbyint(ratio);
    return std::abs(ratio - whole) < DBL_EPSILON ? int(whole) : 0;
}

} // namespace

AreaShrink::AreaShrink(int sourceWidth, int sourceHeight, int width, int height)
    : sourceWidth_(sourceWidth)
    , sourceHeight_(sourceHeight)
    , width_(width) {
    const int wholeX = wholeRatio(sourceWidth, width);
    const int wholeY = wholeRatio(sourceHeight, height);
    if (wholeX != 0 && wholeY != 0) {
        blockWidth_ = wholeX;
        blockHeight_ = wholeY;
        blockSums_.assign(std::size_t(width) * 4, 0);
        return;
    }
    // Each output cell covers ratio source cells: whole ones at full weight, the cells cut at
    // either end by the part they lie in it, every weight over the cell's width, so that the
    // shares of an output cell add up to one. A sliver under a thousandth of a cell is left
    // out; the last cell may be narrower where the ratio overshoots the source.
    const auto shares = [](int source, int output) {
        std::vector<Share> table;
        const double ratio = 1. / (double(output) / source);
        for (int target = 0; target < output; ++target) {
            const double from = target * ratio;
            const double to = from + ratio;
            const double cell = std::min(ratio, source - from);
            int last = std::min(int(std::floor(to)), source - 1);
            const int first = std::min(int(std::ceil(from)), last);
            if (first - from > 1e-3)
                table.push_back({first - 1, target, float((first - from) / cell)});
            for (int whole = first; whole < last; ++whole)
                table.push_back({whole, target, float(1.0 / cell)});
            if (to - last > 1e-3)
                table.push_back({last, target, float(std::min({to - last, 1., cell}) / cell)});
        }
        return table;
    };
    layOutColumns(shares(sourceWidth, width));
    rowShares_ = shares(sourceHeight, height);
    across_.assign(std::size_t(width) * 4, 0.f);
    sums_.assign(std::size_t(width) * 4, 0.f);
}

// Every column given the same number of source columns, as many as the widest takes, its own
// shares among them and the others of no weight, which add nothing: the loop across a row then
// runs the same for every column, with no turn the processor would mispredict. A column's shares
// are of neighbouring source columns, in order.
void AreaShrink::layOutColumns(const std::vector<Share> &shares) {
    std::vector<int> firsts(std::size_t(width_), sourceWidth_);
    std::vector<int> lasts(std::size_t(width_), 0);
    for (const Share &share : shares) {
        firsts[std::size_t(share.target)] =
            std::min(firsts[std::size_t(share.target)], share.source);
        lasts[std::size_t(share.target)] = std::max(lasts[std::size_t(share.target)], share.source);
    }
    columnSpan_ = 1;
    for (int x = 0; x < width_; ++x)
        columnSpan_ = std::max(columnSpan_, lasts[std::size_t(x)] - firsts[std::size_t(x)] + 1);
    const std::size_t span = std::size_t(columnSpan_);
    // The last columns' spans start early enough to end within the row.
    columnFirsts_.resize(std::size_t(width_));
    for (std::size_t x = 0; x < columnFirsts_.size(); ++x)
        columnFirsts_[x] = std::min(firsts[x], sourceWidth_ - columnSpan_);
    columnWeights_.assign(std::size_t(width_) * span * 4, 0.f);
    for (const Share &share : shares) {
        const std::size_t column = std::size_t(share.target);
        float *const weight =
            &columnWeights_[(column * span + std::size_t(share.source - columnFirsts_[column])) *
                            4];
        std::fill_n(weight, 4, share.weight);
    }
}

int AreaShrink::addRows(const PackedPixel *rows, std::size_t stride, int count,
                        PackedPixel *output) {
    int written = 0;
    for (int y = 0; y < count && sourceRow_ < sourceHeight_; ++y, ++sourceRow_) {
        PackedPixel *const next = output + std::size_t(width_) * std::size_t(written);
        written += blockWidth_ != 0 ? addRowByBlocks(rows + stride * std::size_t(y), next)
                                    : addRowByShares(rows + stride * std::size_t(y), next);
    }
    return written;
}

// Whole blocks: integer sums, rounded once each block's last row is in; halving both sides
// rounds halves up, as OpenCV's own two-by-two code does, any other multiple ties to even.
int AreaShrink::addRowByBlocks(const PackedPixel *row, PackedPixel *output) {
    for (int x = 0; x < width_; ++x) {
        std::uint32_t *const sum = &blockSums_[std::size_t(x) * 4];
        for (int dx = 0; dx < blockWidth_; ++dx) {
            const PackedPixel pixel = row[x * blockWidth_ + dx];
            for (int c = 0; c < 4; ++c)
                sum[c] += (pixel >> (8 * c)) & 0xFF;
        }
    }
    if ((sourceRow_ + 1) % blockHeight_ != 0)
        return 0;
    const bool halves = blockWidth_ == 2 && blockHeight_ == 2;
    const __m128 scale = _mm_set1_ps(1.f / float(blockWidth_ * blockHeight_));
    for (int x = 0; x < width_; ++x) {
        std::uint32_t *const sum = &blockSums_[std::size_t(x) * 4];
        if (halves) {
            output[x] = 0;
            for (int c = 0; c < 4; ++c)
                output[x] |= ((sum[c] + 2) >> 2) << (8 * c);
        } else {
            // A sum past 2^31, in a block of millions of pixels, wraps as OpenCV's int does.
            const __m128i whole = _mm_loadu_si128(reinterpret_cast<const __m128i *>(sum));
            output[x] = rounded(_mm_mul_ps(_mm_cvtepi32_ps(whole), scale));
        }
        std::fill_n(sum, 4, 0u);
    }
    return 1;
}

void AreaShrink::sumAcross(const PackedPixel *row) {
    const float *weight = columnWeights_.data();
    for (int x = 0; x < width_; ++x) {
        const PackedPixel *const from = row + columnFirsts_[std::size_t(x)];
        __m128 sum = _mm_setzero_ps();
        for (int i = 0; i < columnSpan_; ++i, weight += 4)
            sum = _mm_add_ps(sum, _mm_mul_ps(channels(from[i]), _mm_loadu_ps(weight)));
        _mm_storeu_ps(&across_[std::size_t(x) * 4], sum);
    }
}

// Shares: the row's weighted sums across go into the output rows it lies in; an output row is
// rounded and written once the next one starts, or the source ends.
int AreaShrink::addRowByShares(const PackedPixel *row, PackedPixel *output) {
    int written = 0;
    const auto write = [&] {
        for (int x = 0; x < width_; ++x)
            output[std::size_t(written) * std::size_t(width_) + std::size_t(x)] =
                rounded(_mm_loadu_ps(&sums_[std::size_t(x) * 4]));
        ++written;
    };
    if (nextRowShare_ < rowShares_.size() && rowShares_[nextRowShare_].source == sourceRow_)
        sumAcross(row);
    for (; nextRowShare_ < rowShares_.size() && rowShares_[nextRowShare_].source == sourceRow_;
         ++nextRowShare_) {
        const Share &share = rowShares_[nextRowShare_];
        const bool starts = share.target != outputRow_;
        if (starts) {
            write();
            outputRow_ = share.target;
        }
        const __m128 weight = _mm_set1_ps(share.weight);
        float *const sums = sums_.data();
        const float *const across = across_.data();
        const std::size_t count = sums_.size();
        if (starts)
            for (std::size_t i = 0; i < count; i += 4)
                _mm_storeu_ps(sums + i, _mm_mul_ps(weight, _mm_loadu_ps(across + i)));
        else
            for (std::size_t i = 0; i < count; i += 4)
                _mm_storeu_ps(sums + i, _mm_add_ps(_mm_loadu_ps(sums + i),
                                                   _mm_mul_ps(weight, _mm_loadu_ps(across + i))));
    }
    if (sourceRow_ == sourceHeight_ - 1)
        write();
    return written;
}

} // namespace duoptica
