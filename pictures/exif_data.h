// libexif's EXIF data as the EXIF writers here use it: loaded as it is, and saved back into the
// payload of an APP1 segment.
#pragma once

#include <libexif/exif-data.h>

#include <QByteArray>

#include <memory>

namespace duoptica {

struct ExifDataFree {
    void operator()(ExifData *data) const { exif_data_unref(data); }
};
using ExifPointer = std::unique_ptr<ExifData, ExifDataFree>;

// Loaded as it is: libexif's defaults would drop the tags it does not know and add the ones it
// thinks missing. Null when libexif cannot allocate.
ExifPointer LoadExifAsIs(const QByteArray &exif);

// The data saved as libexif lays it out ("Exif\0\0" and the TIFF data); empty on failure.
QByteArray SavedExif(ExifData *data);

} // namespace duoptica
