#include "maker_note_parallax.h"

#include <QByteArrayView>

#include <iterator>
#include <optional>

namespace duoptica {

namespace {

constexpr quint16 kExifIfdTag = 0x8769;
constexpr quint16 kMakerNoteTag = 0x927C;
constexpr quint16 kFujifilmParallaxTag = 0xB211;
constexpr quint16 kSignedRational = 10;
constexpr quint16 kNintendoCameraInfoTag = 0x1101;
constexpr qsizetype kNintendoParallaxAt = 0x28;
constexpr int kFieldBytes = 12;

// Numbers in a TIFF structure, every read checked against its end.
struct Tiff {
    char *data;
    qsizetype size;
    bool little;

    std::optional<quint32> number(qsizetype at, int bytes) const {
        if (at < 0 || at + bytes > size)
            return std::nullopt;
        quint32 value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= quint32(quint8(data[at + (little ? i : bytes - 1 - i)])) << (8 * i);
        return value;
    }
    void put(qsizetype at, quint32 value, int bytes) const {
        for (int i = 0; i < bytes; ++i)
            data[at + (little ? i : bytes - 1 - i)] = char(value >> (8 * i) & 0xFF);
    }
    // The field of the IFD at ifd with the tag: where its 12 bytes start.
    std::optional<qsizetype> field(qsizetype ifd, quint16 tag) const {
        const std::optional<quint32> count = number(ifd, 2);
        for (quint32 i = 0; count && i < *count; ++i) {
            const qsizetype at = ifd + 2 + qsizetype(i) * kFieldBytes;
            if (number(at, 2) == tag)
                return at;
        }
        return std::nullopt;
    }
};

// Fujifilm: "FUJIFILM", the IFD's offset, and a little-endian IFD whose offsets count from the
// maker note's start.
void clearFujifilm(Tiff note) {
    note.little = true;
    const std::optional<quint32> ifd = note.number(8, 4);
    const std::optional<qsizetype> field =
        ifd ? note.field(*ifd, kFujifilmParallaxTag) : std::nullopt;
    if (!field || note.number(*field + 2, 2) != kSignedRational || note.number(*field + 4, 4) != 1)
        return;
    const std::optional<quint32> valueAt = note.number(*field + 8, 4);
    if (!valueAt || !note.number(qsizetype(*valueAt) + 4, 4))
        return;
    // 0 / 1: the numerator, then the denominator, little-endian.
    for (int i = 0; i < 8; ++i)
        note.data[*valueAt + i] = char(i == 4 ? 1 : 0);
}

// Nintendo 3DS: an IFD in the TIFF's byte order whose values lie after it, at offsets counted
// from the TIFF header, so that they point elsewhere once libexif has laid the EXIF out again.
// The CameraInfo block starts "3DS1": where it lies now tells how far the note moved, and every
// offset is moved by as much, before the parallax, a float at 0x28 in that block, is set to 0.
void clearNintendo(Tiff note, quint32 noteAt) {
    const std::optional<qsizetype> cameraInfo = note.field(0, kNintendoCameraInfoTag);
    const qsizetype block = QByteArrayView(note.data, note.size).indexOf("3DS1");
    const std::optional<quint32> storedAt =
        cameraInfo ? note.number(*cameraInfo + 8, 4) : std::nullopt;
    if (!storedAt || block < 0 || block + kNintendoParallaxAt + 4 > note.size)
        return;
    const qint64 moved = qint64(noteAt) + block - qint64(*storedAt);
    const std::optional<quint32> count = note.number(0, 2);
    for (quint32 i = 0; moved != 0 && count && i < *count; ++i) {
        const qsizetype at = 2 + qsizetype(i) * kFieldBytes;
        const std::optional<quint32> type = note.number(at + 2, 2);
        const std::optional<quint32> values = note.number(at + 4, 4);
        const std::optional<quint32> offset = note.number(at + 8, 4);
        static constexpr int kTypeBytes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
        if (!type || !values || !offset || *type >= std::size(kTypeBytes) ||
            qint64(*values) * kTypeBytes[*type] <= 4)
            continue;
        note.put(at + 8, quint32(qint64(*offset) + moved), 4);
    }
    note.put(block + kNintendoParallaxAt, 0, 4); // 0.0 in either byte order
}

} // namespace

void ClearMakerNoteParallax(QByteArray &exif) {
    constexpr qsizetype kTiffAt = 6; // after "Exif\0\0"
    if (exif.size() < kTiffAt + 8 || !exif.startsWith(QByteArrayView("Exif\0\0", 6)))
        return;
    const QByteArrayView order = QByteArrayView(exif).sliced(kTiffAt, 4);
    if (order != QByteArrayView("II*\0", 4) && order != QByteArrayView("MM\0*", 4))
        return;
    const Tiff tiff{exif.data() + kTiffAt, exif.size() - kTiffAt, order[0] == 'I'};
    const std::optional<quint32> ifd0 = tiff.number(4, 4);
    const std::optional<qsizetype> exifField = ifd0 ? tiff.field(*ifd0, kExifIfdTag) : std::nullopt;
    const std::optional<quint32> exifIfd =
        exifField ? tiff.number(*exifField + 8, 4) : std::nullopt;
    const std::optional<qsizetype> noteField =
        exifIfd ? tiff.field(*exifIfd, kMakerNoteTag) : std::nullopt;
    if (!noteField)
        return;
    const std::optional<quint32> noteSize = tiff.number(*noteField + 4, 4);
    const std::optional<quint32> noteAt = tiff.number(*noteField + 8, 4);
    if (!noteSize || !noteAt || *noteSize <= 4 || qsizetype(*noteAt) + *noteSize > tiff.size)
        return;
    const Tiff note{tiff.data + *noteAt, qsizetype(*noteSize), tiff.little};
    if (QByteArrayView(note.data, note.size).startsWith("FUJIFILM"))
        clearFujifilm(note);
    else
        clearNintendo(note, *noteAt);
}

} // namespace duoptica
