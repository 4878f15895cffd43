// The rows of a BMP file exactly as Qt's BMP writer stores a 32-bit picture (24 bits a pixel,
// bottom-up, rows padded with zeros), written a band at a time wherever each band belongs, so
// that no whole output is ever held.
#pragma once

#include "combine_span.h"

#include <QSaveFile>

#include <atomic>

namespace duoptica {

class BmpBandOutput {
public:
    // Writes the headers into the opened file.
    BmpBandOutput(QSaveFile &file, int width, int height, qint32 dotsPerMeterX,
                  qint32 dotsPerMeterY);

    // Stores count rows of 0xffRRGGBB words, the first of them row firstRow counted from the top.
    // Several threads may store bands at once.
    void writeBand(const PackedPixel *rows, int firstRow, int count);

    // The reason of the first write that failed, as errno gave it; 0 while none has.
    int error() const { return error_; }

private:
    void writeAt(const uchar *bytes, qint64 size, qint64 offset);

    int fd_;
    int width_;
    int height_;
    qint64 stride_;
    std::atomic<int> error_ = 0;
};

} // namespace duoptica
