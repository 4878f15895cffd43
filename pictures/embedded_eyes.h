// Stereo JPEGs of phones that hide one eye where plain viewers do not look: Leia's LIF (Lume Pad,
// RED Hydrogen One), JPEGs one after another with a JSON trailer naming each view's image and
// place; and extended XMP carrying the right eye as base64 (Google's Cardboard and VR180 photos,
// GImage:Data; older Leia files, LImage:RightAlbedo), the file's own picture being the left eye.
#pragma once

#include <QByteArray>
#include <QString>

namespace duoptica {

struct EmbeddedEyes {
    enum class Kind { None, Lif, ExtendedXmp, Joined };
    Kind kind = Kind::None;
    QByteArray left; // each eye's JPEG
    QByteArray right;
    QString error; // with a kind: why its eyes cannot be taken, without the file name
};

// The largest extended XMP put together: an eye of a 50-megapixel camera fits.
inline constexpr qsizetype kMaxExtendedXmpBytes = qsizetype(64) << 20;

// The eyes a JPEG held whole in memory hides, XMP first (a Leia file may have both), or two
// JPEGs of one size joined with nothing between or after them, as tools write an "MPO" without
// its index, the left eye first; Kind::None when it hides none. Every size and offset is checked against the bytes that hold it.
EmbeddedEyes FindEmbeddedEyes(const QByteArray &file);

// Whether the JPEG file hides eyes, or is damaged where it would hide them, as FindEmbeddedEyes
// tells; reads its segments before the picture's data, and the whole file only when it ends in
// LIF's mark, so that a folder of plain photos is sorted quickly.
bool HidesEmbeddedEyes(const QString &fileName);

} // namespace duoptica
