// HEIF image files (HEIC) through libheif: a stereo pair's two eyes from the `ster` group that
// phones and headsets write, or a plain picture's primary image. libheif puts grids together and
// turns each image as its irot/imir boxes say; each picture comes with its ICC profile as its
// colour space and its item's EXIF block.
#pragma once

#include "picture_file.h"

#include <QByteArray>
#include <QString>

namespace duoptica {

struct HeicPicture {
    QImage picture;
    QByteArray exif; // "Exif\0\0" and the TIFF data, as a JPEG's APP1 holds it, or empty
};

struct HeicLoad {
    bool stereo = false; // the file has a `ster` group: left and right are its first two images
    HeicPicture left;    // without a group: the primary image
    HeicPicture right;
    QString error; // empty on success; otherwise a short reason, without the file name
};

// The largest HEIF file read, as for an MPO.
inline constexpr qint64 kMaxHeifBytes = qint64(1) << 30;

// Whether the file starts as a HEIF image file does (told by its ftyp box, not its name).
bool IsHeicFile(const QString &fileName);

// Reads the file whole; with a `ster` group both of its eyes (of one size), else the primary
// image alone. Each image is checked against limits.maxPixels before it is decoded.
HeicLoad LoadHeicPictures(const QString &fileName, const LoadLimits &limits);

} // namespace duoptica
