// One pair of files into one file: the one place that plans a job and runs the path it takes.
#pragma once

#include "pair_plan.h"

namespace duoptica {

// The job's inputs probed and its path chosen: the first of the lossless copy, the direct BMP
// path, the streamed JPEG path and the general path to accept it.
PairPlan planPair(const PairJob &job);

// Reads both eyes, turns them upright, swaps them if asked, aligns them when asked, checks their
// sizes, combines or packs them and writes the output atomically, on the path planPair() chose.
Outcome combinePairFiles(const PairJob &job, Threads threads = Threads::All);

} // namespace duoptica
