// The orientation tag of a JPEG's EXIF data, read the way Qt's JPEG reader reads it, so that a
// program decoding a JPEG on its own knows whether Qt would have turned the picture.
#pragma once

#include <QByteArrayView>

namespace duoptica {

// The EXIF orientation (1 to 8) in exif, the APP1 segments' data in file order; 0 when no
// orientation is given, -1 when the data is damaged or not EXIF. Qt treats 0 and -1 alike: as
// stored.
int ExifOrientation(QByteArrayView exif);

} // namespace duoptica
