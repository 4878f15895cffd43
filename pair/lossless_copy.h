// The lossless path: JPEG eyes whose pixels nothing changes are copied into an MPO or a pair of
// JPEG files as they are, never decoded and encoded again.
#pragma once

#include "pair_job.h"

#include <optional>

namespace duoptica {

// Takes two upright JPEG files or an MPO's first two images (of one size) written as an MPO,
// or as a pair of .jpg files, with no stage that changes pixels (alignment, a window shift).
// Only the MPF segments change; everything else of each JPEG, its EXIF included, is copied.
// Leaves every other job, and any input it cannot take, to the other paths.
std::optional<Outcome> copyJpegsLosslessly(const PairJob &job);

} // namespace duoptica
