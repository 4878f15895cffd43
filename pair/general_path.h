// The general path of a pair: both eyes decoded whole, put through the stages (swap, size check,
// alignment, colour matching, resizing), combined, and written by Qt's writers. It takes every
// job the faster paths leave.
#pragma once

#include "pair_job.h"

namespace duoptica {

Outcome combineWholePictures(const PairJob &job, Threads threads);

} // namespace duoptica
