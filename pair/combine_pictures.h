// The combining rule applied to whole decoded pictures.
#pragma once

#include "anaglyph_methods.h"
#include "pair_job.h"

#include <QImage>

namespace duoptica {

// The picture as the window's surfaces hold it: opaque 0xffRRGGBB words, with any transparent
// part showing the surfaces' background colour, so both programs combine the same pixels.
QImage asSourceBitmap(QImage picture);

// output[i] := the combination of left[i] and right[i] for i below count, spread over every
// core when asked to. output may be left or right itself.
void combinePixels(const PackedPixel *left, const PackedPixel *right, PackedPixel *output,
                   qsizetype count, AnaglyphMethod method, Threads threads);

// The result reuses left's pixels when it can. It is null when the two differ in size or
// memory runs out.
QImage combinePictures(QImage left, const QImage &right, AnaglyphMethod method,
                       Threads threads = Threads::All);

} // namespace duoptica
