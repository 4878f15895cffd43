#include "pair_job.h"

namespace duoptica {

Outcome cannotWrite(const QString &outputFile, const QString &why) {
    return {ExitCode::WriteFailure, QStringLiteral("%1: cannot write: %2").arg(outputFile, why)};
}

} // namespace duoptica
