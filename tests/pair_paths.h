// Running a job on one chosen path, as the pair's planner would if that path were the first to
// accept it: nothing when the path does not take the job (or hands it on).
#pragma once

#include "bmp_direct.h"
#include "jpeg_stream.h"
#include "pair_plan.h"

#include <optional>

inline std::optional<duoptica::Outcome>
runOnPath(duoptica::PairPath path, const duoptica::PairJob &job, duoptica::Threads threads) {
    const duoptica::PairPlan plan = duoptica::probePair(job);
    QString whyNot;
    if (path == duoptica::PairPath::BmpDirect)
        return duoptica::acceptsBmpDirect(plan, &whyNot) ? duoptica::runBmpDirect(plan, threads)
                                                         : std::nullopt;
    return duoptica::acceptsJpegStreamed(plan, &whyNot) ? duoptica::runJpegStreamed(plan, threads)
                                                        : std::nullopt;
}
