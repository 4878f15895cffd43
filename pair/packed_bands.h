// Side by side and one over the other written a band of rows at a time straight from the two
// final eyes, into the writer the streamed path uses: the bytes the packed picture would give,
// without a packed copy of the pair (175 MB for two aligned 24-megapixel eyes) or the time to
// make it.
#pragma once

#include "pair_job.h"

#include <QImage>

namespace duoptica {

// Whether the job's output can be written so: side by side (parallel or cross) or one over the
// other, as BMP, JPEG or PNG, not framed by --fit, from eyes without a colour profile, which
// only the whole-picture writers keep.
bool writesPackedBands(const PairJob &job, const QImage &left);

// Both eyes 32-bit words without alpha (asSourceBitmap()) and of one size; exif is the left
// eye's, for a JPEG.
Outcome writePackedBands(const PairJob &job, const QImage &left, const QImage &right,
                         const QByteArray &exif, Threads threads);

} // namespace duoptica
