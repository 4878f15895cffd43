// --align: the stage that aligns the two eyes of a pair after they are read and before they
// are combined, and the lines that tell what it did.
#pragma once

#include "aligned_pair.h"

#include <QImage>
#include <QString>

#include <optional>

namespace duoptica {

// Features are found away from a picture's border; below this many pixels on a side an eye has
// no room for them, so it is refused before the matching starts.
inline constexpr int kMinAlignSide = 64;

struct AlignOptions {
    align::WindowPlacement window;
    bool verbose = false; // also tell how the matching went
};

struct AlignSummary {
    align::AlignmentFit fit;
    align::PairLayout layout;
};

// Aligns right onto left (both the same size) and crops both to what they share. Without a
// summary the pair cannot be aligned, the pictures are left as they were and refusal says why
// and how to learn more; that includes eyes smaller than kMinAlignSide and any failure inside the
// feature matching.
std::optional<AlignSummary> alignEyes(QImage &left, QImage &right, const AlignOptions &options,
                                      QString *refusal);

// --window auto without --align: the shift of the right eye that puts the nearest matched points
// (the 2nd percentile of the points that fit) at the screen, measured on the eyes as they are,
// also when the fit would be refused for its residual. Nothing, with the reason, when the
// matching finds too few points to tell.
std::optional<int> nearestAtScreenShift(const QImage &left, const QImage &right, QString *why);

// What the alignment did, in one line, and with verbose a second about the matching.
QStringList alignmentReport(const AlignSummary &summary, bool verbose);

} // namespace duoptica
