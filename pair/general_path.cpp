#include "general_path.h"

#include "color_match_stage.h"
#include "picture_file.h"
#include "resize_stage.h"
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
    // Each stage takes a while on a large picture; a stop is looked at between them.
    if (job.stopRequested())
        return interrupted(job);
    if (job.settings.swap) {
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
    if (job.settings.align) {
        QString refusal;
        const std::optional<AlignSummary> aligned =
            alignEyes(eyes.left, eyes.right, *job.settings.align, &refusal);
        if (!aligned)
            return {ExitCode::CannotAlign, QStringLiteral("%1: cannot align it with %2: %3")
                                               .arg(eyes.rightName, eyes.leftName, refusal)};
        for (const QString &line : alignmentReport(*aligned, job.settings.align->verbose))
            outcome.notes << eyes.rightName + QStringLiteral(": ") + line;
    }

    if (job.settings.windowShift && !shiftWindow(eyes.left, eyes.right, *job.settings.windowShift))
        return {ExitCode::CannotAlign,
                QStringLiteral("%1: the window shift of %2 pixels leaves nothing the two "
                               "pictures share")
                    .arg(eyes.rightName)
                    .arg(*job.settings.windowShift)};

    if (job.settings.adjust.matchColors) {
        ChannelCurves curves;
        if (!matchEyeColors(eyes.left, eyes.right, job.settings.align.has_value(), &curves))
            return {
                ExitCode::UnreadableInput,
                QStringLiteral("%1: not enough memory to match its colours").arg(eyes.rightName)};
        outcome.notes << eyes.rightName + QStringLiteral(": ") + colorMatchReport(curves);
    }
    if (job.settings.adjust.size) {
        // Eyes decoded smaller are sized as their files' pixels would have been.
        const QSize target = sizedEye(eyes.fullSize.isEmpty() ? eyes.left.size() : eyes.fullSize,
                                      *job.settings.adjust.size);
        if (qint64(target.width()) * target.height() > kMaxPicturePixels)
            return {ExitCode::Usage, QStringLiteral("%1: each eye would be %2 once resized, more "
                                                    "than %3 megapixels")
                                         .arg(job.leftFile, sizeText(target))
                                         .arg(kMaxPicturePixels / 1000000)};
        if (!resizeEyes(eyes.left, eyes.right, target))
            return {
                ExitCode::UnreadableInput,
                QStringLiteral("%1: not enough memory to resize the pictures").arg(job.leftFile)};
    }

    if (job.stopRequested())
        return interrupted(job);
    // Stages that change the eyes go before this last step, which packs and writes them.
    Outcome written = writeEyes(job, std::move(eyes), threads);
    if (written.code != ExitCode::Success)
        return written;
    return outcome;
}

} // namespace duoptica
