// The streamed path for a pair of JPEG files, an MPO, or one JPEG holding both eyes (a .jps file,
// side by side or one over the other), written as a JPEG or a BMP: both eyes are decoded row band
// by row band through libjpeg, and each combined band goes straight to the output (the JPEG
// encoder, or its place among the BMP's rows), so that decoding overlaps writing and no whole
// picture is ever held. The output is byte for byte the file the general path writes
// through Qt's JPEG reader and Qt's writers.
#pragma once

#include "pair_job.h"

#include <optional>

namespace duoptica {

// Combines the job, or puts its eyes side by side (parallel, cross, jps), on the streamed path when
// it is plain (two files, an MPO or one picture of both, no stages or window shift, JPEG or BMP
// output), both eyes are colour or grey JPEGs of one size shown as stored (no EXIF turn), and, for
// a JPEG, the eye whose metadata the output keeps has no comment or colour profile. Gives nothing
// for any other job, and for any input the decoder refuses, so that the general path decides with
// its own messages. A failed write is reported here.
std::optional<Outcome> combineJpegStreamed(const PairJob &job, qint64 maxPixels, Threads threads);

} // namespace duoptica
