// Combining every pair of an input folder into an output folder, several pairs at a time.
#pragma once

#include "batch_pairing.h"
#include "batch_shard.h"
#include "pair_job.h"

#include <atomic>
#include <functional>

namespace duoptica {

struct BatchRequest {
    QString inputDir;
    QString outputDir;
    PairSettings settings = {};                      // for every pair
    StereoLayout jpsLayout = StereoLayout::FromFile; // how .jps files are read; FromFile: Cross
    // --pair-names, besides the common namings.
    std::optional<SideNames> pairNames = std::nullopt;
    BatchShard shard = {};
    bool skipExisting = false; // leave a pair whose output is already there
    int workers = 1;           // pairs run at once
    // Set to a signal's number to stop: no pair starts after it, and running ones stop and write
    // nothing. Null: never stopped.
    const std::atomic<int> *stop = nullptr;
};

// How long running pairs have to stop on their own once asked; one whose decoder cannot be
// interrupted is then abandoned, and the caller ends the process.
inline constexpr int kStopGraceMilliseconds = 1500;

struct BatchSummary {
    ExitCode code = ExitCode::Success;
    int pairs = 0; // the pairs of this run's shard
    int combined = 0;
    int skipped = 0;
    int failed = 0;
    int unpaired = 0;
    // Each picture no pair used, by its path, with why.
    QList<UnpairedFile> unpairedFiles;
    int unfinished = 0; // stopped by a signal, or never started because of one
    int pairsInFolder = 0;
    int workers = 1;
    int stopSignal = 0; // the signal that stopped the run; 0 when it ran to its end
    // Pairs still running when the grace after a stop ran out. Their threads still hold the
    // request and the report: the caller must end the process (std::_Exit) without returning.
    bool abandoned = false;
    BatchShard shard;
};

enum class PairStatus { Combined, Skipped, Failed };

struct PairResult {
    const PairJob &job;
    PairStatus status;
    const Outcome &outcome;
    qint64 milliseconds;
    qint64 pixels; // of the output, also a skipped one's; 0 for a failed pair
};

// What the run tells as it goes; both may be called from any thread, never two at once.
struct BatchReport {
    std::function<void(const QString &line)> problem;  // a failed pair, an unpaired file
    std::function<void(int done, int total)> progress; // after each finished pair
    std::function<void(const PairResult &result)> pairDone;
    std::function<void(const QString &line)> note; // what was done to a pair (--align, colours)
};

// A pair that fails is reported and the others still done. A stop ends the run with the code
// Interrupted once the running pairs have stopped (or been abandoned). Before any pair starts, a
// missing input folder, a folder with no pair or an output folder that cannot be made ends the run.
// A shard with no pair of its own succeeds. Unpaired files are reported by shard 0 alone, so
// that the shards of one batch report each once.
BatchSummary runBatch(const BatchRequest &request, const BatchReport &report);

// One line for the end of a run, e.g. "19 of 20 pairs combined, 1 failed, 1 file unpaired", or
// "shard 2/3: 7 of 7 pairs combined, 2 skipped" for a shard; ", 5 unfinished (stopped)" after
// a stop.
QString summaryLine(const BatchSummary &summary);

} // namespace duoptica
