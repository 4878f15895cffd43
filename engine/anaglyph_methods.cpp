#include "anaglyph_methods.h"
#include "dubois_kernels.h"
#include "srgb_transfer.h"

namespace duoptica {

namespace {

// The plain loop, which the vector kernels match bit for bit and which does what they leave.
void duboisRow(const PackedPixel *left, const PackedPixel *right, PackedPixel *output,
               std::size_t count, const DuboisMatrices &m) {
    const TransferTables &tables = transferTables();
    for (std::size_t i = 0; i < count; ++i) {
        const Channels l = channelsOfPacked(left[i]);
        const Channels r = channelsOfPacked(right[i]);
        const float lin[6] = {tables.decode[l.red], tables.decode[l.green], tables.decode[l.blue],
                              tables.decode[r.red], tables.decode[r.green], tables.decode[r.blue]};
        int out[3];
        for (int row = 0; row < 3; ++row)
            out[row] = tables.encode[encodeStep(
                m.left[row][0] * lin[0] + m.left[row][1] * lin[1] + m.left[row][2] * lin[2] +
                m.right[row][0] * lin[3] + m.right[row][1] * lin[4] + m.right[row][2] * lin[5])];
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

void duboisSpan(const PackedPixel *left, const PackedPixel *right, PackedPixel *output,
                std::size_t count, const DuboisMatrices &m) {
    static const bool hasAvx2 = __builtin_cpu_supports("avx2");
    std::size_t done = 0;
    if (hasAvx512Kernel())
        done = duboisRowAvx512(left, right, output, count, m);
    if (hasAvx2)
        done += duboisRowAvx2(left + done, right + done, output + done, count - done, m);
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
        return duboisSpan(left, right, output, count, kDuboisRedCyan);
    case AnaglyphMethod::DuboisGreenMagenta:
        return duboisSpan(left, right, output, count, kDuboisGreenMagenta);
    case AnaglyphMethod::DuboisAmberBlue:
        return duboisSpan(left, right, output, count, kDuboisAmberBlue);
    default:
        return;
    }
}

} // namespace duoptica
