// The streamed path for a pair of JPEG files, an MPO, or one JPEG holding both eyes (a .jps file,
// side by side or one over the other), written as a JPEG, PNG or BMP: the eyes are decoded row
// band by row band through libjpeg, shrunk band by band where the job sizes them down, and each
// combined or packed band goes straight to the output's writer, so that decoding overlaps writing
// and no whole picture is ever held. The output is byte for byte the file the general path writes
// through Qt's JPEG reader, OpenCV's area resize and Qt's writers.
#pragma once

#include "pair_plan.h"

namespace duoptica {

// A plain job (no stage but a resize that shrinks; combined, side by side as parallel, cross or
// jps, or one over the other; JPEG, PNG or BMP output) whose eyes are colour or grey JPEGs of
// one size shown as stored (no EXIF turn) and, for a JPEG output, whose left eye (whose metadata
// the output keeps) has no comment or colour profile.
bool acceptsJpegStreamed(const PairPlan &plan, QString *whyNot);

// Nothing when a decoder refuses the data, so that the general path decides with its own
// messages; a failed write is told here.
std::optional<Outcome> runJpegStreamed(const PairPlan &plan, Threads threads);

} // namespace duoptica
