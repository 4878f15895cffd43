// The two pixel calls on a surface's device context, in the colour form the rule speaks.
// This is the one place where the bitmap's 0xAARRGGBB pixels become ColorValues and back.
#pragma once

#include "color_value.h"

#include <QRgb>

#include <cstdint>

namespace Module1 {

// Where a surface's bitmap lies in memory: rows of 32-bit 0xFFRRGGBB words.
struct DeviceContext {
    QRgb *bits = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int64_t wordsPerLine = 0;

    bool contains(std::int32_t x, std::int32_t y) const {
        return x >= 0 && y >= 0 && x < width && y < height;
    }
    QRgb &at(std::int32_t x, std::int32_t y) const { return bits[y * wordsPerLine + x]; }
};

using HDC = const DeviceContext *;

// The colour at (x, y), or -1 for any position outside the bitmap.
inline duoptica::ColorValue GetPixel(HDC hdc, std::int32_t x, std::int32_t y) {
    if (!hdc->contains(x, y))
        return duoptica::kOutsideBitmap;
    const QRgb rgb = hdc->at(x, y);
    return qRed(rgb) | (qGreen(rgb) << 8) | (qBlue(rgb) << 16);
}

// Writes the colour at (x, y); outside the bitmap nothing happens and 0 is returned.
inline std::int32_t SetPixelV(HDC hdc, std::int32_t x, std::int32_t y, duoptica::ColorValue color) {
    if (!hdc->contains(x, y))
        return 0;
    hdc->at(x, y) = qRgb(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
    return 1;
}

} // namespace Module1
