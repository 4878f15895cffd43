#include "general_path.h"

#include "stereo_input.h"
#include "stereo_output.h"
#include "window_shift.h"

#include <utility>

namespace duoptica {

namespace {

QString sizeText(QSize size) {
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

} // namespace

Outcome combineWholePictures(const PairJob &job, Threads threads) {
    // The stages of a job, each on the two upright eyes the one before gives.
    EyePictures eyes = readEyes(job, threads);
    if (eyes.failure.code != ExitCode::Success)
        return eyes.failure;
    if (job.swap) {
        std::swap(eyes.left, eyes.right);
        std::swap(eyes.leftName, eyes.rightName);
        std::swap(eyes.leftExif, eyes.rightExif);
    }
    if (eyes.left.size() != eyes.right.size())
        return {ExitCode::SizeMismatch,
                QStringLiteral("Pictures not equal size! %1 is %2, %3 is %4")
                    .arg(eyes.leftName, sizeText(eyes.left.size()), eyes.rightName,
                         sizeText(eyes.right.size()))};

    Outcome outcome;
    if (job.align) {
        QString refusal;
        const std::optional<AlignSummary> aligned =
            alignEyes(eyes.left, eyes.right, *job.align, &refusal);
        if (!aligned)
            return {ExitCode::CannotAlign, QStringLiteral("%1: cannot align it with %2: %3")
                                               .arg(eyes.rightName, eyes.leftName, refusal)};
        for (const QString &line : alignmentReport(*aligned, job.align->verbose))
            outcome.notes << eyes.rightName + QStringLiteral(": ") + line;
    }

    if (job.windowShift && !shiftWindow(eyes.left, eyes.right, *job.windowShift))
        return {ExitCode::CannotAlign,
                QStringLiteral("%1: the window shift of %2 pixels leaves nothing the two "
                               "pictures share")
                    .arg(eyes.rightName)
                    .arg(*job.windowShift)};

    // Stages that change the eyes go before this last step, which packs and writes them.
    Outcome written = writeEyes(job, std::move(eyes), threads);
    if (written.code != ExitCode::Success)
        return written;
    return outcome;
}

} // namespace duoptica
