// Writing a multi-picture (MPO) file of a stereo pair, as 3D cameras do: two JPEG images one after
// the other, each given an APP2 "MPF" segment; the first's holds the index of both.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <array>

namespace duoptica {

// The convergence angle (degrees, signed) and the baseline length (metres) of a stereo pair, as
// the MP attribute IFD holds them: numerator and denominator, both 0xFFFFFFFF for unknown, as a
// camera that does not know them writes.
struct MpStereoGeometry {
    static constexpr quint32 kUnknown = 0xFFFFFFFF;
    std::array<quint32, 2> convergenceAngle{kUnknown, kUnknown};
    std::array<quint32, 2> baselineLength{kUnknown, kUnknown};
};

// The two JPEG files (left eye first) joined into one MPO: the first image carries the MP Index
// IFD (version 0100, two images, both entries of type multi-frame disparity, the first marked
// representative) and each image its MP Attribute IFD (its number, base viewpoint 1). The segment
// goes after the JFIF and EXIF segments a JPEG starts with. Nothing else of either JPEG changes.
// Both attribute IFDs also carry the pair's geometry. Empty when either is no JPEG.
QByteArray multiPictureFile(const QByteArray &leftJpeg, const QByteArray &rightJpeg,
                            const MpStereoGeometry &geometry = {});

// The geometry in the MP attribute IFD of an MPO's image; unknown where it has none.
MpStereoGeometry mpStereoGeometry(QByteArrayView jpeg);

} // namespace duoptica
