// Multi-picture (MPO) files, as stereo cameras write them: JPEG images one after another, the
// first carrying an index of them all (CIPA DC-007) in an APP2 "MPF" segment.
#pragma once

#include "picture_file.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

namespace duoptica {

struct ByteRange {
    qsizetype offset = 0;
    qsizetype size = 0;
};

struct MpoIndex {
    enum class Kind { NotMpo, Mpo, Damaged };
    Kind kind = Kind::NotMpo;
    QList<ByteRange> images; // with Mpo: every image listed, each lying wholly within the file
    QString error;           // with Damaged: a short reason
};

// The largest MPO file read: two MPO files of a 50-megapixel camera come to well under this.
inline constexpr qint64 kMaxMpoBytes = qint64(1) << 30;

// Walks the first image's header segments up to its first scan. Every offset and count is
// checked against the file's size, so hostile bytes give Damaged, never a read out of bounds.
MpoIndex ReadMpoIndex(QByteArrayView file);

// The same from the first bytes of a file of fileSize bytes, for a reader that reads only the
// images the index points at. An index that lies past head gives NotMpo.
MpoIndex ReadMpoIndex(QByteArrayView head, qint64 fileSize);

struct StereoPictureLoad {
    bool isMpo = false;
    PictureLoad left;  // the first image
    PictureLoad right; // the second
    QString error;     // empty when both decoded; otherwise a short reason, without the file name
    // The start of each image, where its header segments are (its EXIF, its JFIF density).
    QByteArray leftHead;
    QByteArray rightHead;
};

// Reads the file whole and, when it is an MPO with two images or more, decodes the first two as
// LoadPictureBytes() does, on two threads when asked. A file that is not an MPO gives isMpo false
// and no error; an MPO with fewer than two images, or a damaged index, gives isMpo true and the
// error.
StereoPictureLoad LoadMpoPictures(const QString &fileName, const LoadLimits &limits,
                                  bool bothAtOnce = false);

// Whether the file is a multi-picture file (its index damaged or not), told by content alone.
bool IsMpoFile(const QString &fileName);

} // namespace duoptica
