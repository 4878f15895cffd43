// The camera's EXIF block: found in a JPEG's header, read for the resolution, and made fit for a
// new upright picture so that outputs keep the make, model, date, exposure and GPS.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QSize>
#include <QString>

#include <optional>

namespace duoptica {

// The payload of the first image's EXIF APP1 segment ("Exif\0\0" and the TIFF data), or empty.
// Only the header segments are walked, so the first few hundred KiB of a file suffice.
QByteArray ExifOfJpeg(QByteArrayView jpeg);

// The JPEG's first image declares its resolution in a JFIF segment (units inch or cm).
bool HasJfifDensity(QByteArrayView jpeg);

// The EXIF XResolution and YResolution in dots per inch, when both are there and positive.
std::optional<QSizeF> ExifDotsPerInch(const QByteArray &exif);

// The EXIF for a new upright picture of the size given: orientation 1, no thumbnail, the pixel
// dimensions true, a stereo camera's maker-note parallax 0. Empty when the block cannot be read.
QByteArray UprightExif(const QByteArray &exif, QSize size);

// A minimal EXIF for a picture of the size given that came without one: the software that wrote
// it and the pixel dimensions, so that the image starts with an EXIF segment as camera files do.
QByteArray MinimalExif(QSize size);

// The EXIF an output of that size carries: the eye's made upright, or a minimal one for an eye
// without EXIF (or with one that cannot be read).
QByteArray OutputExif(const QByteArray &eyeExif, QSize size);

// The JPEG with an APP1 segment of the payload right after its start, before any JFIF segment
// as cameras place it, replacing any EXIF it had. The JPEG as it was when the payload is empty
// or too long for a segment.
QByteArray JpegWithExif(const QByteArray &jpeg, const QByteArray &exif);

// The JPEG starting with its EXIF segment, moved before its JFIF one, or with a minimal EXIF for
// the size given when it has none; nothing else changes.
QByteArray JpegWithExifFirst(const QByteArray &jpeg, QSize size);

// A picture decoded from the JPEG takes the EXIF resolution when the JPEG has no JFIF density,
// as cameras that write only EXIF (72 dpi) mean it; Qt's reader knows only JFIF.
void ApplyCameraResolution(QImage &picture, QByteArrayView jpeg);

// The first few hundred KiB of a file, where a JPEG's header segments are; empty on failure.
QByteArray FileHead(const QString &fileName);

} // namespace duoptica
