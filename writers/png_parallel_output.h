// A PNG file of an opaque picture, deflated a piece of rows per thread: each piece is filtered and
// deflated on its own, and the pieces are joined at byte boundaries into one zlib stream, as pigz
// does. Its pixels are those Qt's PNG writer stores; its bytes are not.
#pragma once

#include "combine_span.h"

#include <QFuture>
#include <QImage>
#include <QString>

#include <deque>
#include <initializer_list>
#include <vector>

class QIODevice;

namespace duoptica {

// Whether writePngInParallel() keeps all a picture holds: a 32-bit opaque picture without text or
// colour profile, which Qt's writer would store as 8-bit RGB rows with its resolution alone.
bool canWritePngInParallel(const QImage &picture);

// Writes the picture (one canWritePngInParallel() accepts) to the file, atomically, over every
// core when allThreads. Returns an empty string on success, else the reason.
QString writePngInParallel(const QImage &picture, const QString &fileName, bool allThreads);

// Rows filtered and deflated as they come, in order from the top, a piece of about a megabyte at
// a time: on Qt's pool when allThreads, the finished pieces written to the device in order as
// IDAT chunks. Only a few pieces a thread are held at once, never the picture. The same picture
// gives the same bytes whichever way its rows are handed over.
class PngRowStream {
public:
    PngRowStream(QIODevice &device, bool allThreads);
    // Waits for the pieces still being deflated; what was written stays as it is.
    ~PngRowStream();
    PngRowStream(const PngRowStream &) = delete;
    PngRowStream &operator=(const PngRowStream &) = delete;

    // Writes the signature, the header and, where either is set, the resolution.
    bool begin(int width, int height, int dotsPerMeterX, int dotsPerMeterY);
    // count rows of width 0xffRRGGBB words, the first of them row firstRow, which must be the row
    // after those already given.
    bool addRows(const PackedPixel *rows, int firstRow, int count);
    // Writes the pieces still in flight and the end; every row must have been given.
    bool finish();
    // Why the last call failed.
    const QString &errorString() const { return error_; }

    struct Piece {
        std::vector<PackedPixel> words; // the row above (zeros for the first), then the rows
        int rows = 0;
        bool last = false;
    };
    struct DeflatedPiece {
        std::vector<unsigned char> bytes;
        unsigned long adler = 1;
        unsigned long length = 0; // of the filtered rows
        bool last = false;
        bool ok = false;
    };

private:
    bool hand(Piece piece);
    bool writeFinished(std::size_t keep);
    bool writePiece(const DeflatedPiece &piece);
    bool writeChunk(const char *type, std::initializer_list<QByteArrayView> parts);
    bool fail(const QString &why);
    QString writeFailure() const;

    QIODevice &device_;
    bool allThreads_;
    std::size_t inFlight_; // pieces deflating or waiting to be written, at most
    int width_ = 0;
    int height_ = 0;
    int rowsPerPiece_ = 1;
    int nextRow_ = 0;
    Piece filling_;
    std::deque<QFuture<DeflatedPiece>> deflating_;
    bool dataStarted_ = false; // the first IDAT chunk, which opens the zlib stream, is out
    unsigned long adler_ = 1;
    QString error_;
};

} // namespace duoptica
