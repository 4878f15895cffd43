// The direct path for the commonest pair: two uncompressed 24- or 32-bit BMP files combined into a
// BMP. The inputs are read and combined row band by row band straight into the output's bytes,
// which are the same bytes the general path's writer gives.
#pragma once

#include "pair_plan.h"

namespace duoptica {

// A plain job (two files, no stages, combined into a BMP) whose inputs are such BMPs of one size,
// with headers that agree with their files' sizes. Any other goes on to the general path, with
// its own messages.
bool acceptsBmpDirect(const PairPlan &plan, QString *whyNot);
std::optional<Outcome> runBmpDirect(const PairPlan &plan, Threads threads);

} // namespace duoptica
