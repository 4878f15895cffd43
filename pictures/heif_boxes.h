// The few boxes of a HEIF file that libheif 1.15 does not give: its entity groups (the `ster`
// group of a stereo pair, in the `grpl` box of the top-level `meta`), read and added. Every size
// and count is checked against the bytes that hold it, so hostile bytes give an error, never a
// read out of bounds.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

namespace duoptica {

// Whether the bytes start as a HEIF image file does: an `ftyp` box naming an HEVC image brand
// (heic, heix, heim, heis, mif1) as its major or one of its compatible brands.
bool IsHeifImageFile(QByteArrayView head);

struct HeifGroup {
    QByteArray type; // four characters: "ster", "altr", ...
    quint32 id = 0;
    QList<quint32> entities; // item or track IDs, in the group's order
};

struct HeifGroups {
    QList<HeifGroup> groups; // every group of the top-level meta box's grpl, in file order
    QString error;           // empty unless a box is cut short or its counts lie
};

// The entity groups of a HEIF file held whole in memory; none (and no error) without a grpl.
HeifGroups ReadHeifGroups(QByteArrayView file);

// The file with a `ster` group [left, right] added to its meta box (in a grpl box of its own,
// after any box already there), and every item location past the meta box moved by the bytes
// added. Empty, with the reason in *error, when the file's boxes cannot be walked, it already
// has a grpl, or its item locations are of a kind not moved safely (a data reference other than
// the file itself, offsets too narrow for the shift).
QByteArray WithStereoGroup(QByteArrayView file, quint32 left, quint32 right, QString *error);

} // namespace duoptica
