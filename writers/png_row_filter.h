// PNG's five row filters for 8-bit RGB rows, and libpng's default choice among them per row.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

namespace duoptica {

// The bytes of one pixel, and the zeros a row and the row above must have before their first byte:
// the filters read the pixel to the left, which the first pixel has as zeros.
inline constexpr std::size_t kPngPixelBytes = 3;

class PngRowFilter {
public:
    explicit PngRowFilter(std::size_t rowBytes);

    // Writes the filter type byte and the filtered row into out (rowBytes + 1 bytes). Of the five
    // filters it takes the one whose bytes, read as signed, have the smallest sum of magnitudes,
    // as libpng does by default. above is all zeros for the first row.
    void filter(const unsigned char *row, const unsigned char *above, unsigned char *out);

private:
    std::size_t rowBytes_;
    std::array<std::vector<unsigned char>, 5> candidates_;
};

} // namespace duoptica
