// The lossless path: JPEG eyes whose pixels nothing changes are copied into an MPO or a pair of
// JPEG files as they are, never decoded and encoded again.
#pragma once

#include "pair_plan.h"

namespace duoptica {

// Two upright JPEG files or an MPO's first two images (of one size) written as an MPO, or as a
// pair of .jpg files, with no stage that moves pixels (alignment, a window shift).
bool acceptsLosslessCopy(const PairPlan &plan, QString *whyNot);

// Only the MPF segments change; everything else of each JPEG, its EXIF included, is copied.
// Nothing when an eye's bytes cannot be read as probed, for the next path to tell why.
std::optional<Outcome> runLosslessCopy(const PairPlan &plan, Threads threads);

} // namespace duoptica
