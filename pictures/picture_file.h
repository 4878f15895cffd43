// Loading pictures from BMP, JPEG and GIF files (and PNG, TIFF and WebP for the tool) and writing
// them, with every failure turned into a short reason for the user instead of a crash, a hang or a
// picture of garbage.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QImageIOHandler>
#include <QList>
#include <QSize>
#include <QString>

#include <functional>

namespace duoptica {

// Pictures declaring more pixels than this are refused before anything is decoded. A 50-megapixel
// camera picture loads; at 4 bytes a pixel the largest accepted one needs about 400 MB.
inline constexpr qint64 kMaxPicturePixels = 100'000'000;

// Qt's limit for one decoded image (QImageReader::setAllocationLimit), which each program sets in
// main(). Qt's own default of 128 MiB would refuse anything above 32 megapixels; this leaves room
// for the largest picture accepted above.
inline constexpr int kImageAllocationLimitMiB = 512;

// Each scan of a progressive JPEG makes the decoder pass over the whole picture again, so a small
// file of thousands of tiny scans takes minutes to decode. Encoders write ten or so.
inline constexpr int kMaxJpegScans = 100;

struct PictureLoad {
    QImage picture; // empty for an empty file name, which is a success
    QString error;  // empty on success; otherwise a short reason, without the file name
    // What the file's EXIF orientation asks for to show it upright; the picture is as stored.
    QImageIOHandler::Transformations orientation = QImageIOHandler::TransformationNone;
    // Set when a JPEG was decoded smaller (LoadLimits::shrinkTarget): its upright size in the file.
    QSize fullSize = {};
};

struct LoadLimits {
    // Empty: decode the whole picture. Otherwise only the top-left area of this size is needed,
    // and JPEG decodes only the rows it covers.
    QSize visibleArea;
    qint64 maxPixels = kMaxPicturePixels;
    // PNG files too: the command-line tool reads them; the window offers BMP, JPEG and GIF only.
    bool acceptPng = false;
    // TIFF (as raw developers export it, 8 or 16 bits a channel) and WebP, through Qt's image
    // formats plugins: the command-line tool reads them, the window does not.
    bool acceptTiffAndWebp = false;
    // For a picture that is to be shrunk by area at once: the size it will be shrunk to, given
    // its upright size. A JPEG shrunk 4x or more is then decoded at 1/2, 1/4 or 1/8 of its size
    // (LoadPicture() tells which), and the shrink finishes from there.
    std::function<QSize(QSize upright)> shrinkTarget = {};
    // With shrinkTarget: the loader finishes the shrink itself as the rows are decoded, so that
    // the picture decoded smaller is never held whole. A picture stored turned is shrunk as
    // stored, to the target turned alike.
    bool shrinkWhileDecoding = false;
};

PictureLoad LoadPicture(const QString &fileName, const LoadLimits &limits = {});
// The same for a picture file held in memory, such as one image of a multi-picture file. The
// bytes are not copied.
PictureLoad LoadPictureBytes(const QByteArray &bytes, const LoadLimits &limits = {});

// The picture turned as its orientation asks, so that it shows upright.
QImage UprightPicture(const QImage &picture, QImageIOHandler::Transformations orientation);

// Writes atomically through QSaveFile, so that a failed write never leaves an existing file
// truncated; BMP is written with 24 bits a pixel. The name is used exactly as given. quality
// (1 to 100) is for JPEG; -1 leaves Qt's default. Returns an empty string on success, else the
// reason.
QString SavePicture(const QImage &picture, const QString &fileName,
                    const QByteArray &format = "BMP", int quality = -1);

// The picture encoded in memory as SavePicture() would write it; empty, with the reason in
// *error, when it cannot be.
QByteArray EncodePicture(const QImage &picture, const QByteArray &format, int quality,
                         QString *error);

// Writes files whole or not at all, as SavePicture() does. Several go in place as a set: all are
// written and on disk under temporary names (NAME.ext.XXXXXX, as QSaveFile names its own where it
// must) before any earlier file of their names is touched, and a failure leaves the earlier files
// as they were. Returns an empty string on success, else the reason, with the file that failed
// in *failedFile.
struct FileBytes {
    QString fileName;
    QByteArray bytes;
};
QString SaveFiles(const QList<FileBytes> &files, QString *failedFile);

} // namespace duoptica
