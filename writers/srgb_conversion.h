// Pixels turned into sRGB from the ICC profile they came with, for outputs that carry no profile
// (the wiggle animations): a browser shows their numbers as sRGB.
#pragma once

#include <QColorSpace>
#include <QImage>

namespace duoptica {

// Converts a 0xffRRGGBB picture in place from the RGB colour space given to sRGB with Little CMS,
// with the rendering intent its profile names. A picture without a profile, or in sRGB already
// (or nearly: within two levels for mid and light colours, as PNG's gamma 2.2 with sRGB's
// primaries), or with a profile that is not RGB or cannot be read, is left as it is.
void convertToSrgb(QImage &picture, const QColorSpace &from);

} // namespace duoptica
