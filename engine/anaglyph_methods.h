// Every way duoptica-combine can combine a stereo pair: the window's three modes, exactly as the
// window combines, and the classic and Dubois anaglyphs, as functions over whole rows.
#pragma once

#include "combine_span.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace duoptica {

enum class AnaglyphMethod {
    Normal,
    RedBlue,
    RedGreen,
    True,
    Gray,
    Color,
    HalfColor,
    DuboisRedCyan,
    DuboisGreenMagenta,
    DuboisAmberBlue,
};

struct MethodName {
    AnaglyphMethod method;
    std::string_view name;        // as --mode spells it
    std::string_view description; // one line for --help
};

inline constexpr std::array<MethodName, 10> kMethodNames{{
    {AnaglyphMethod::Normal, "normal", "the average of both (the window's Normal)"},
    {AnaglyphMethod::RedBlue, "red-blue", "the window's Red-Blue anaglyph"},
    {AnaglyphMethod::RedGreen, "red-green", "the window's Red-Green anaglyph"},
    {AnaglyphMethod::True, "true", "red: left's luminance, blue: right's; no green"},
    {AnaglyphMethod::Gray, "gray", "red: left's luminance, green and blue: right's"},
    {AnaglyphMethod::Color, "color", "red from left, green and blue from right"},
    {AnaglyphMethod::HalfColor, "half-color", "red: left's luminance, green and blue from right"},
    {AnaglyphMethod::DuboisRedCyan, "dubois-red-cyan", "Dubois, red/cyan glasses"},
    {AnaglyphMethod::DuboisGreenMagenta, "dubois-green-magenta", "Dubois, green/magenta glasses"},
    {AnaglyphMethod::DuboisAmberBlue, "dubois-amber-blue", "Dubois, amber/blue glasses"},
}};

// The window's mode for its three methods; none for the others.
constexpr std::optional<CombineMode> windowModeOf(AnaglyphMethod method) {
    switch (method) {
    case AnaglyphMethod::Normal:
        return CombineMode::Normal;
    case AnaglyphMethod::RedBlue:
        return CombineMode::RedBlue;
    case AnaglyphMethod::RedGreen:
        return CombineMode::RedGreen;
    default:
        return std::nullopt;
    }
}

// output[i] := left[i] and right[i] combined by the method, for i below count; the same
// aliasing rules as combineSpan(). The alpha byte of an input is ignored; outputs are opaque.
void combineMethodSpan(const PackedPixel *left, const PackedPixel *right, PackedPixel *output,
                       std::size_t count, AnaglyphMethod method);

} // namespace duoptica
