// Pictures as the alignment sees them: rows of 0xAARRGGBB words in memory someone else owns.
#pragma once

#include <cstddef>
#include <cstdint>

namespace duoptica::align {

struct PixelView {
    const std::uint32_t *pixels = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0; // words from one row to the next
};

struct PixelTarget {
    std::uint32_t *pixels = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0; // words from one row to the next
};

} // namespace duoptica::align
