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
    Outcome outcome;
    if (eyes.left.size() != eyes.right.size()) {
        // A rig's two cameras rarely give one size to the pixel: an alignment warps the right
        // eye onto the left's grid anyway, and a sizing stage asks for one size of both.
        const PairSettings &asked = job.settings;
        if (!asked.align && !asked.adjust.size)
            return {ExitCode::SizeMismatch,
                    QStringLiteral("Pictures not equal size! %1 is %2, %3 is %4")
                        .arg(eyes.leftName, sizeText(eyes.left.size()), eyes.rightName,
                             sizeText(eyes.right.size()))};
        const QSize rightSize = eyes.right.size();
        const QSize target =
            asked.align ? eyes.left.size() : sizedEye(eyes.left.size(), *asked.adjust.size);
        if (!resizeEyeTo(eyes.left, target) || !resizeEyeTo(eyes.right, target))
            return {
                ExitCode::UnreadableInput,
                QStringLiteral("%1: not enough memory to resize the pictures").arg(job.leftFile)};
        outcome.notes << QStringLiteral("%1: brought from %2 to %3, the size of both eyes")
                             .arg(eyes.rightName, sizeText(rightSize), sizeText(target));
    }
    if (job.settings.align) {
        QString refusal;
        const std::optional<AlignSummary> aligned =
            alignEyes(eyes.left, eyes.right, *job.settings.align, &refusal);
        if (!aligned)
            return {ExitCode::CannotAlign,
                    QStringLiteral("%1: cannot align it with %2: %3; --window auto without "
                                   "--align still places the window on the pair as it is")
                        .arg(eyes.rightName, eyes.leftName, refusal)};
        for (const QString &line : alignmentReport(*aligned, job.settings.align->verbose))
            outcome.notes << eyes.rightName + QStringLiteral(": ") + line;
    }

    std::optional<int> windowShift = job.settings.windowShift;
    if (job.settings.windowAtNearest) {
        QString why;
        windowShift = nearestAtScreenShift(eyes.left, eyes.right, &why);
        if (!windowShift)
            return {ExitCode::CannotAlign,
                    QStringLiteral("%1: cannot place the window by its matches with %2: %3")
                        .arg(eyes.rightName, eyes.leftName, why)};
        outcome.notes << QStringLiteral("%1: moved %2 pixels to the right, putting the nearest "
                                        "points at the screen")
                             .arg(eyes.rightName)
                             .arg(*windowShift);
    }
    if (windowShift && !shiftWindow(eyes.left, eyes.right, *windowShift))
        return {ExitCode::CannotAlign,
                QStringLiteral("%1: the window shift of %2 pixels leaves nothing the two "
                               "pictures share")
                    .arg(eyes.rightName)
                    .arg(*windowShift)};

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
