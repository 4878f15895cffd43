// Reading the two eyes of a stereo job, upright: two picture files, one MPO, or one picture
// holding both eyes side by side or one over the other.
#pragma once

#include "pair_job.h"

#include <QImage>
#include <QString>

namespace duoptica {

struct EyePictures {
    QImage left;
    QImage right;
    // How messages name each eye: its file, or the stereo file and which image or half it is.
    QString leftName;
    QString rightName;
    Outcome failure; // its code is Success when both eyes were read
    // The camera's EXIF block of each eye's JPEG ("Exif\0\0" and the TIFF data), or empty.
    QByteArray leftExif;
    QByteArray rightExif;
    // Set when both eyes were decoded smaller for --resize or --max-size: the upright size both
    // have in their files, from which the size asked is reckoned.
    QSize fullSize = {};
};

// Both eyes as the job's layout gives them, each turned upright as its EXIF orientation asks
// (a picture holding both eyes is turned before it is cut in two), at the resolution its JFIF
// or else its EXIF declares. The eyes are not swapped.
EyePictures readEyes(const PairJob &job, Threads threads);

// A .jps file: one picture holding both eyes, read as Cross unless told otherwise, never as an
// MPO, whatever its content.
bool isJpsFile(const QString &file);

// The two eyes a picture holds in the layout; an odd width (side by side) or height (over-under)
// drops the last column or row. Both are null for the Pair layout or a picture too small to cut.
EyePictures cutIntoEyes(const QImage &picture, StereoLayout layout);

} // namespace duoptica
