// Combining every pair of an input folder into an output folder, several pairs at a time.
#pragma once

#include "combine_pictures.h"

#include <functional>

namespace duoptica {

struct BatchRequest {
    QString inputDir;
    QString outputDir;
    QByteArray format = "bmp";
    CombineMode mode = CombineMode::Normal;
    std::optional<AlignOptions> align;
};

struct BatchSummary {
    ExitCode code = ExitCode::Success;
    int pairs = 0;
    int combined = 0;
    int failed = 0;
    int unpaired = 0;
};

// What the run tells as it goes; both may be called from any thread, never two at once.
struct BatchReport {
    std::function<void(const QString &line)> problem;  // a failed pair, an unpaired file
    std::function<void(int done, int total)> progress; // after each finished pair
    std::function<void(const QString &line)> note;     // what was done to a pair (--align)
};

// A pair that fails is reported and the others still done. Before any pair starts, a missing
// input folder, a folder with no pair or an output folder that cannot be made ends the run.
BatchSummary runBatch(const BatchRequest &request, const BatchReport &report);

// One line for the end of a run, e.g. "19 of 20 pairs combined, 1 failed, 1 file unpaired".
QString summaryLine(const BatchSummary &summary);

} // namespace duoptica
