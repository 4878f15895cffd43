// One pair of files into one file: the one place that chooses the path a job takes.
#pragma once

#include "pair_job.h"

namespace duoptica {

// Reads both eyes, turns them upright, swaps them if asked, aligns them when asked, checks their
// sizes, combines or packs them and writes the output atomically: on the lossless JPEG copy, the
// direct BMP path, the streamed JPEG path, or the general path, whichever is the first to take
// the job.
Outcome combinePairFiles(const PairJob &job, Threads threads = Threads::All);

} // namespace duoptica
