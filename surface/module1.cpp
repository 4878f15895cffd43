#include "module1.h"

namespace Module1 {

namespace {

bool inside(const QImage &bitmap, std::int32_t x, std::int32_t y) {
    return x >= 0 && y >= 0 && x < bitmap.width() && y < bitmap.height();
}

} // namespace

duoptica::ColorValue GetPixel(HDC hdc, std::int32_t x, std::int32_t y) {
    if (!inside(*hdc, x, y))
        return duoptica::kOutsideBitmap;
    const QRgb rgb = reinterpret_cast<const QRgb *>(hdc->constScanLine(y))[x];
    return qRed(rgb) | (qGreen(rgb) << 8) | (qBlue(rgb) << 16);
}

std::int32_t SetPixelV(HDC hdc, std::int32_t x, std::int32_t y, duoptica::ColorValue color) {
    if (!inside(*hdc, x, y))
        return 0;
    reinterpret_cast<QRgb *>(hdc->scanLine(y))[x] =
        qRgb(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
    return 1;
}

} // namespace Module1
