// --match-colors: the stage that brings the right eye's colours to the left eye's, by a tone
// curve per channel taken from the two eyes' distributions over the area both show.
#pragma once

#include <QImage>
#include <QRect>
#include <QString>

#include <array>
#include <cstdint>

namespace duoptica {

// For red, green and blue: the level each level of the right eye becomes.
using ToneCurve = std::array<std::uint8_t, 256>;
using ChannelCurves = std::array<ToneCurve, 3>;

// Where each eye shows the same part of the scene, as far as one shift of the whole picture
// tells.
struct SharedArea {
    QRect left;
    QRect right;
};

// The area both eyes show. Aligned eyes are already cropped to it; otherwise the shift between
// them is measured (phase correlation on a reduced copy) and a margin left for the depth.
SharedArea sharedArea(const QImage &left, const QImage &right, bool aligned);

// Histogram matching per channel: each right level goes to the left level at the same
// place in the left's distribution over its area, so the curves are monotone.
ChannelCurves matchingCurves(const QImage &left, const QImage &right, const SharedArea &area);

// Brings right's colours to left's (both the same size; they become 32-bit opaque pixels, as
// they are combined) and gives the curves used. False when memory runs out.
bool matchEyeColors(QImage &left, QImage &right, bool aligned, ChannelCurves *curves);

// What the curves did, in one short line.
QString colorMatchReport(const ChannelCurves &curves);

} // namespace duoptica
