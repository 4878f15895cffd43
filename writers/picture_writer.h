// One interface for every writer of one picture: begin with the picture's header, hand over its
// rows a band at a time, finish; a failure is told once, with the file's name. The file takes its
// name only when finish() succeeds, synced to disk; until then an earlier file stays as it was.
#pragma once

#include "combine_span.h"
#include "output_format.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <memory>

namespace duoptica {

struct PictureHeader {
    int width = 0;
    int height = 0;
    int dotsPerMeterX = 0;
    int dotsPerMeterY = 0;
    int quality = -1; // JPEG, 1 to 100; -1 leaves Qt's default
    // JPEG: the eye's EXIF block ("Exif\0\0" and the TIFF data), or empty for a minimal one; it is
    // made fit for the picture, with a thumbnail of the picture's own rows.
    QByteArray exif;
    bool fullChroma = false; // JPEG: chroma kept whole (4:4:4) rather than halved both ways
};

struct WriteError {
    QString fileName;
    QString reason; // empty while nothing failed

    bool failed() const { return !reason.isEmpty(); }
};

class PictureWriter {
public:
    explicit PictureWriter(QString fileName) { error_.fileName = std::move(fileName); }
    virtual ~PictureWriter() = default;
    PictureWriter(const PictureWriter &) = delete;
    PictureWriter &operator=(const PictureWriter &) = delete;

    virtual bool begin(const PictureHeader &header) = 0;
    // count rows of header.width 0xffRRGGBB words, the first of them row firstRow from the top.
    // In order from the top, unless the writer takesBandsInAnyOrder(), when several threads may
    // also hand over bands at once.
    virtual bool writeRows(const PackedPixel *rows, int firstRow, int count) = 0;
    virtual bool finish() = 0;
    // Drops what was written; nothing is left under the file's name or a temporary one.
    virtual void cancel() = 0;
    virtual bool takesBandsInAnyOrder() const { return false; }

    // A whole picture at once: its header from the picture, then its rows.
    virtual bool writePicture(const QImage &picture, int quality);

    const WriteError &error() const { return error_; }

protected:
    bool fail(const QString &reason);

    WriteError error_;
};

// The writer of one picture in the format: BMP and JPEG encode each band as it comes (with the
// bytes Qt's writers give a plain 0xffRRGGBB picture), PNG deflates its rows a piece at a time as
// they come (with the bytes writePngInParallel() gives the picture); GIF, WebP and HEIC hold the
// picture until finish(). For any picture that carries text or a colour profile,
// wholePictureWriter() keeps them as Qt's writers do.
std::unique_ptr<PictureWriter> bandWriter(FileFormat format, const QString &fileName,
                                          bool allThreads = true);
std::unique_ptr<PictureWriter> wholePictureWriter(FileFormat format, const QString &fileName,
                                                  bool allThreads);

} // namespace duoptica
