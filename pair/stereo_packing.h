// Packing the two final eyes of a pair into one picture for a stereo viewer: side by side, one
// over the other, squeezed into one frame, or interleaved by rows, columns or squares.
#pragma once

#include "pair_job.h"

#include <QImage>

namespace duoptica {

// Both eyes the same size, as the stages leave them. Null for StereoOutput::Anaglyph, Mpo, Pair
// and Wiggle, which are not one picture of both, or when memory runs out. The picture keeps the
// left eye's resolution.
QImage packEyes(const QImage &left, const QImage &right, StereoOutput to);

} // namespace duoptica
