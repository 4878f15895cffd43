// Writing a multi-picture (MPO) file of a stereo pair, as 3D cameras do: two JPEG images one after
// the other, each given an APP2 "MPF" segment; the first's holds the index of both.
#pragma once

#include <QByteArray>

namespace duoptica {

// The two JPEG files (left eye first) joined into one MPO: the first image carries the MP Index
// IFD (version 0100, two images, both entries of type multi-frame disparity, the first marked
// representative) and each image its MP Attribute IFD (its number, base viewpoint 1). The segment
// goes after the JFIF and EXIF segments a JPEG starts with. Nothing else of either JPEG changes.
// Empty when either is no JPEG.
QByteArray multiPictureFile(const QByteArray &leftJpeg, const QByteArray &rightJpeg);

} // namespace duoptica
