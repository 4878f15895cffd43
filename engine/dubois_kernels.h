// The Dubois anaglyphs over a row of pixels, for the processor at hand: the matrices and the
// vector kernels that anaglyph_methods.cpp chooses among. Every kernel gives, bit for bit, the
// channels of the plain loop there.
#pragma once

#include "combine_span.h"

#include <cstddef>

namespace duoptica {

// Rows are the output's red, green and blue; columns the input's red, green and blue.
struct DuboisMatrices {
    float left[3][3];
    float right[3][3];
};

// E. Dubois, "Conversion of a Stereo Pair to Anaglyph with the Least-Squares Projection Method"
// (2009 revision).
inline constexpr DuboisMatrices kDuboisRedCyan{
    {{0.437f, 0.449f, 0.164f}, {-0.062f, -0.062f, -0.024f}, {-0.048f, -0.050f, -0.017f}},
    {{-0.011f, -0.032f, -0.007f}, {0.377f, 0.761f, 0.009f}, {-0.026f, -0.093f, 1.234f}}};
inline constexpr DuboisMatrices kDuboisGreenMagenta{
    {{-0.062f, -0.158f, -0.039f}, {0.284f, 0.668f, 0.143f}, {-0.015f, -0.027f, 0.021f}},
    {{0.529f, 0.705f, 0.024f}, {-0.016f, -0.015f, -0.065f}, {0.009f, 0.075f, 0.937f}}};
inline constexpr DuboisMatrices kDuboisAmberBlue{
    {{1.062f, -0.205f, 0.299f}, {-0.026f, 0.908f, 0.068f}, {-0.038f, -0.173f, 0.022f}},
    {{-0.016f, -0.123f, -0.017f}, {0.006f, 0.062f, -0.017f}, {0.094f, 0.185f, 0.911f}}};

// Each combines the pixels up to the last multiple of its width (8 and 16) and returns how many
// it did. The AVX-512 one needs AVX-512 F, BW and VBMI; hasAvx512Kernel() says so.
std::size_t duboisRowAvx2(const PackedPixel *left, const PackedPixel *right, PackedPixel *output,
                          std::size_t count, const DuboisMatrices &m);
std::size_t duboisRowAvx512(const PackedPixel *left, const PackedPixel *right, PackedPixel *output,
                            std::size_t count, const DuboisMatrices &m);
bool hasAvx512Kernel();

} // namespace duoptica
