#include "exif_data.h"

#include <cstdlib>

namespace duoptica {

ExifPointer LoadExifAsIs(const QByteArray &exif) {
    ExifPointer data(exif_data_new());
    if (!data)
        return {};
    exif_data_unset_option(data.get(), EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
    exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_load_data(data.get(), reinterpret_cast<const unsigned char *>(exif.constData()),
                        unsigned(exif.size()));
    return data;
}

QByteArray SavedExif(ExifData *data) {
    unsigned char *saved = nullptr;
    unsigned int savedSize = 0;
    exif_data_save_data(data, &saved, &savedSize);
    QByteArray exif(reinterpret_cast<const char *>(saved), qsizetype(savedSize));
    std::free(saved); // libexif's default allocator is malloc
    return exif;
}

} // namespace duoptica
