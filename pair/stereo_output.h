// The last step of a pair: the two final eyes, after every stage, written as the job asks,
// combined into one picture, packed into one, into an MPO, or as two files.
#pragma once

#include "pair_job.h"

#include <QImage>

namespace duoptica {

// Both eyes the same size. Every file is written whole or not at all; with two files (Pair),
// both or neither.
Outcome writeEyes(const PairJob &job, QImage left, QImage right, Threads threads);

} // namespace duoptica
