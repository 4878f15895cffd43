#include "pair_files.h"

#include "bmp_direct.h"
#include "general_path.h"
#include "jpeg_stream.h"
#include "lossless_copy.h"

#include <QFileInfo>

#include <array>

namespace duoptica {

namespace {

struct PathEntry {
    PairPath path;
    bool (*accepts)(const PairPlan &plan, QString *whyNot);
    // Nothing when the data turned out other than probed: the next path that accepts it runs.
    std::optional<Outcome> (*run)(const PairPlan &plan, Threads threads);
};

constexpr std::array kPaths{
    PathEntry{PairPath::LosslessCopy, acceptsLosslessCopy, runLosslessCopy},
    PathEntry{PairPath::BmpDirect, acceptsBmpDirect, runBmpDirect},
    PathEntry{PairPath::JpegStreamed, acceptsJpegStreamed, runJpegStreamed},
    PathEntry{PairPath::WholePictures, [](const PairPlan &, QString *) { return true; },
              [](const PairPlan &plan, Threads threads) -> std::optional<Outcome> {
                  return combineWholePictures(plan.job, threads);
              }},
};

bool isSameFile(const QString &a, const QString &b) {
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    return !canonicalA.isEmpty() && canonicalA == QFileInfo(b).canonicalFilePath();
}

} // namespace

PairPlan planPair(const PairJob &job) {
    PairPlan plan = probePair(job);
    QStringList passedOn;
    for (const PathEntry &entry : kPaths) {
        QString whyNot;
        if (entry.accepts(plan, &whyNot)) {
            plan.path = entry.path;
            break;
        }
        passedOn << pairPathName(entry.path) + QStringLiteral(": ") + whyNot;
    }
    plan.why = passedOn.join(QStringLiteral("; "));
    return plan;
}

Outcome combinePairFiles(const PairJob &job, Threads threads) {
    for (const QString &output : outputFilesOf(job))
        for (const QString &input : {job.leftFile, job.rightFile})
            if (isSameFile(output, input))
                return {ExitCode::Usage,
                        QStringLiteral("%1: the output would overwrite an input").arg(output)};

    const PairPlan plan = planPair(job);
    // Each holds a stereo pair of its own: taking the first image of each would blend two shots.
    if (job.layout == StereoLayout::Pair && plan.inputs.size() == 2 &&
        plan.inputs[0].mpo.kind == MpoIndex::Kind::Mpo &&
        plan.inputs[1].mpo.kind == MpoIndex::Kind::Mpo)
        return {ExitCode::Usage,
                QStringLiteral("%1 and %2 are both multi-picture (MPO) files, each a stereo pair "
                               "of its own: give one of them alone as INPUT")
                    .arg(job.leftFile, job.rightFile)};
    for (const PathEntry &entry : kPaths) {
        // The plan's path accepted it already; a later one is asked only when that one hands
        // the pair on.
        QString whyNot;
        if (entry.path < plan.path || (entry.path > plan.path && !entry.accepts(plan, &whyNot)))
            continue;
        if (std::optional<Outcome> outcome = entry.run(plan, threads))
            return *outcome;
    }
    return combineWholePictures(job, threads);
}

} // namespace duoptica
