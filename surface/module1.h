// The two pixel calls on a surface's device context, in the colour form the rule speaks.
// This is the one place where the bitmap's 0xAARRGGBB pixels become ColorValues and back.
#pragma once

#include "color_value.h"

#include <QImage>

#include <cstdint>

namespace Module1 {

// A device context is the surface's bitmap itself, always in QImage::Format_RGB32.
using HDC = QImage *;

// The colour at (x, y), or -1 for any position outside the bitmap.
duoptica::ColorValue GetPixel(HDC hdc, std::int32_t x, std::int32_t y);

// Writes the colour at (x, y); outside the bitmap nothing happens and 0 is returned.
std::int32_t SetPixelV(HDC hdc, std::int32_t x, std::int32_t y, duoptica::ColorValue color);

} // namespace Module1
