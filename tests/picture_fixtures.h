// Picture files made by the tests themselves: every BMP layout the loader must read, GIF (which
// Qt cannot write), JPEG, and a table of damaged and hostile inputs.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSize>
#include <QString>

namespace fixtures {

// A picture of `colours` colours in a pattern that differs from row to row and column to column,
// so that a flipped, shifted or mis-padded decode shows. Up to eight colours use channels of 0 and
// 255 only, which every BMP layout, 16-bit included, stores exactly.
QImage patternPicture(QSize size, int colours);
// Smooth colour gradients, which JPEG keeps close to the original.
QImage smoothPicture(QSize size);

enum class BmpLayout {
    Palette1,
    Palette4,
    Palette8,
    Rle4,
    Rle8,
    Rgb16,
    Rgb24,
    Rgb24TopDown,
    Rgb32
};
// Written by hand, since Qt writes only the 1-, 8- and 24-bit bottom-up layouts.
QByteArray bmpBytes(const QImage &picture, BmpLayout layout);
// A GIF of a picture with at most 256 colours, its LZW data kept uncompressed (a clear code
// every 100 codes keeps the code width at 9 bits), which any decoder must read.
QByteArray gifBytes(const QImage &picture, bool interlaced = false);
QByteArray jpegBytes(const QImage &picture, bool progressive = false);
QByteArray pngBytes(const QImage &picture);
// A JPEG of 64 x 48 whose frame header claims the size given.
QByteArray jpegDeclaring(QSize size, bool progressive = false);
// The first part of a JPEG (kept, from 0 to 1), then an end-of-image marker.
QByteArray scanStoppedEarly(const QByteArray &jpeg, double kept);
// A JPEG segment with its marker and length, and a JPEG with one more right after its start.
QByteArray segment(char marker, const QByteArray &payload);
QByteArray withSegment(const QByteArray &jpeg, const QByteArray &segmentBytes);
// A progressive JPEG whose last scan is repeated until the file holds `scans` of them.
QByteArray jpegWithScans(int scans);
// A JPEG whose EXIF says how to turn it upright (1 to 8, as EXIF numbers them).
QByteArray jpegWithOrientation(const QImage &picture, int orientation);

// A multi-picture file as stereo cameras write it: the JPEGs one after another, the first
// carrying the index of them all in either byte order, possibly damaged.
enum class MpoDamage {
    None,
    IndexCut,         // the segment ends before the index's entries
    EndsAtLastOffset, // not damage: the segment ends right after the last field read
    SecondPastTheEnd, // the second image's offset points past the end of the file
};
QByteArray mpoBytes(const QList<QByteArray> &jpegs, bool bigEndian,
                    MpoDamage damage = MpoDamage::None);

// A HEIF file of the pictures, each encoded losslessly by libheif, the first primary, and a
// `ster` group of two of them, when given: by their numbers, from 1 (a number with no picture
// gives an ID no item has: 1000 and the number).
QByteArray heicBytes(const QList<QImage> &pictures, const QList<quint32> &stereoGroup = {});

// A Leia LIF: the left JPEG, then a disparity map and the right JPEG in blocks of their own, and
// the JSON trailer whose views name them (the right view naming image rightId).
QByteArray lifBytes(const QByteArray &leftJpeg, const QByteArray &rightJpeg,
                    qint64 rightId = 1000002);
// The left JPEG with the right one as GImage:Data in extended XMP, in APP1 chunks of at most
// chunkBytes, possibly damaged; or a lens-blur depth photo's XMP, whose GImage is no eye.
enum class XmpVariant { Eye, ChunksReversed, TooLarge, DepthPhoto };
QByteArray xmpEyeBytes(const QByteArray &leftJpeg, const QByteArray &rightJpeg,
                       qsizetype chunkBytes = 60000, XmpVariant variant = XmpVariant::Eye);

bool writeFile(const QString &path, const QByteArray &bytes);
// Writes a file that a test cannot go on without, and gives its path.
QString makeFile(const QString &folder, const QString &name, const QByteArray &bytes);
QByteArray readFile(const QString &path);

// The largest difference of any channel between two pictures of the same size, or 256 when
// the sizes differ.
int largestChannelDifference(const QImage &a, const QImage &b);

struct BadInput {
    QString name;   // the table row's name
    QString path;   // made in the folder given
    QString reason; // a fragment of the reason the loader must give
};
// Damaged and hostile files: empty, not a picture (or one only the command-line tool reads),
// truncated, absurd declared sizes, a folder, a missing file, a FIFO.
QList<BadInput> makeBadInputs(const QString &folder);

} // namespace fixtures
