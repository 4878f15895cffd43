#include "pair_job.h"

namespace duoptica {

Outcome cannotWrite(const QString &outputFile, const QString &why) {
    return {ExitCode::WriteFailure, QStringLiteral("%1: cannot write: %2").arg(outputFile, why)};
}

Outcome interrupted(const PairJob &job) {
    return {ExitCode::Interrupted,
            QStringLiteral("%1: stopped by a signal before it was written").arg(job.outputFile)};
}

} // namespace duoptica
