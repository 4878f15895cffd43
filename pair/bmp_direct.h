// The direct path for the commonest pair: two uncompressed 24- or 32-bit BMP files combined into a
// BMP. The inputs are read and combined row band by row band straight into the output's bytes,
// which are the same bytes the general path's writer gives.
#pragma once

#include "pair_job.h"

#include <optional>

namespace duoptica {

// Combines the job on the direct path when it is plain (two files, no stages, BMP output) and
// both inputs are such BMPs of one size, with headers that agree with their files' sizes. Gives
// nothing for any other job, which the general path then takes, with its own messages.
std::optional<Outcome> combineBmpDirect(const PairJob &job, qint64 maxPixels, Threads threads);

} // namespace duoptica
