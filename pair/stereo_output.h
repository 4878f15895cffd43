// The last step of a pair: the two final eyes, after every stage, written as the job asks,
// combined into one picture, packed into one, into an MPO, or as two files.
#pragma once

#include "pair_job.h"
#include "stereo_input.h"

namespace duoptica {

// Both eyes the same size. Every file is written whole or not at all; with two files (Pair),
// both or neither. A JPEG starts with the camera's EXIF, made fit for its upright pixels: the left
// eye's, and in an MPO's second image or a pair's right file the right eye's; or with a minimal
// EXIF for an eye without one.
Outcome writeEyes(const PairJob &job, EyePictures eyes, Threads threads);

// Whether the job's JPEG keeps chroma at full resolution (4:4:4). An anaglyph always does: at
// half resolution the red of one eye and the green and blue of the other bleed into each other
// at every edge. Other outputs keep Qt's 4:2:0 below quality 95.
bool jpegFullChroma(const PairJob &job);

} // namespace duoptica
