#include "exif_orientation.h"

#include <QtEndian>

#include <cstring>

namespace duoptica {

namespace {

constexpr qsizetype kExifHeaderSize = 6; // "Exif\0\0"
constexpr qsizetype kIfdEntrySize = 12;
// EXIF 2.3 has at most five IFDs; a chain longer than this is damaged.
constexpr int kMaxIfds = 10;
constexpr quint16 kOrientationTag = 0x0112;
constexpr quint16 kShortType = 3;

class TiffReader {
public:
    explicit TiffReader(QByteArrayView tiff)
        : tiff_(tiff) {}

    bool readByteOrder() {
        if (tiff_.size() < 8)
            return false;
        if (std::memcmp(tiff_.data(), "II", 2) == 0)
            little_ = true;
        else if (std::memcmp(tiff_.data(), "MM", 2) == 0)
            little_ = false;
        else
            return false;
        return u16(2) == 0x2A;
    }
    bool has(qsizetype offset, qsizetype length) const {
        return offset >= 0 && length <= tiff_.size() && offset <= tiff_.size() - length;
    }
    quint16 u16(qsizetype offset) const {
        const auto *bytes = reinterpret_cast<const uchar *>(tiff_.data()) + offset;
        return little_ ? qFromLittleEndian<quint16>(bytes) : qFromBigEndian<quint16>(bytes);
    }
    quint32 u32(qsizetype offset) const {
        const auto *bytes = reinterpret_cast<const uchar *>(tiff_.data()) + offset;
        return little_ ? qFromLittleEndian<quint32>(bytes) : qFromBigEndian<quint32>(bytes);
    }

private:
    QByteArrayView tiff_;
    bool little_ = true;
};

} // namespace

int ExifOrientation(QByteArrayView exif) {
    if (exif.size() < kExifHeaderSize || std::memcmp(exif.data(), "Exif\0\0", 6) != 0)
        return -1;
    TiffReader tiff(exif.sliced(kExifHeaderSize));
    if (!tiff.readByteOrder())
        return -1;
    // Qt reads the IFDs as a stream: it never goes back, and an entry cut short ends the search.
    qint64 position = 8;
    qint64 offset = tiff.u32(4);
    for (int ifd = 0; ifd < kMaxIfds; ++ifd) {
        if (offset < position || !tiff.has(offset, 2))
            return -1;
        const int entries = tiff.u16(offset);
        position = offset + 2;
        for (int entry = 0; entry < entries; ++entry, position += kIfdEntrySize) {
            if (!tiff.has(position, kIfdEntrySize))
                return -1;
            if (tiff.u16(position) != kOrientationTag)
                continue;
            const quint16 value = tiff.u16(position + 8);
            if (tiff.u16(position + 2) != kShortType || tiff.u32(position + 4) != 1 || value < 1 ||
                value > 8)
                return -1;
            return value;
        }
        if (!tiff.has(position, 4))
            return -1;
        offset = tiff.u32(position);
        position += 4;
        if (offset == 0)
            return 0;
    }
    return -1;
}

} // namespace duoptica
