#include "bmp_band_output.h"

#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <vector>

#include <unistd.h>

namespace duoptica {

namespace {

constexpr qint64 kFileHeaderSize = 14;
constexpr qint64 kInfoHeaderSize = 40;
constexpr qint64 kHeadersSize = kFileHeaderSize + kInfoHeaderSize;

} // namespace

BmpBandOutput::BmpBandOutput(QSaveFile &file, int width, int height, qint32 dotsPerMeterX,
                             qint32 dotsPerMeterY)
    : fd_(file.handle())
    , width_(width)
    , height_(height)
    , stride_((qint64(width) * 24 + 31) / 32 * 4) {
    const qint64 fileSize = kHeadersSize + stride_ * height;
    uchar headers[kHeadersSize] = {};
    headers[0] = 'B';
    headers[1] = 'M';
    qToLittleEndian<quint32>(quint32(fileSize), headers + 2);
    qToLittleEndian<quint32>(quint32(kHeadersSize), headers + 10);
    qToLittleEndian<quint32>(quint32(kInfoHeaderSize), headers + 14);
    qToLittleEndian<qint32>(width, headers + 18);
    qToLittleEndian<qint32>(height, headers + 22);
    qToLittleEndian<quint16>(1, headers + 26);
    qToLittleEndian<quint16>(24, headers + 28);
    qToLittleEndian<quint32>(quint32(fileSize - kHeadersSize), headers + 34);
    qToLittleEndian<qint32>(dotsPerMeterX, headers + 38);
    qToLittleEndian<qint32>(dotsPerMeterY, headers + 42);
    writeAt(headers, kHeadersSize, 0);
}

void BmpBandOutput::writeBand(const PackedPixel *rows, int firstRow, int count) {
    // The band's bytes start zeroed, which is the rows' padding.
    std::vector<uchar> band(std::size_t(stride_) * std::size_t(count));
    for (int i = 0; i < count; ++i) {
        const PackedPixel *in = rows + std::size_t(width_) * std::size_t(i);
        uchar *out = band.data() + stride_ * (count - 1 - i);
        for (int x = 0; x < width_; ++x, out += 3) {
            out[0] = uchar(in[x]);
            out[1] = uchar(in[x] >> 8);
            out[2] = uchar(in[x] >> 16);
        }
    }
    writeAt(band.data(), qint64(band.size()),
            kHeadersSize + stride_ * (height_ - firstRow - count));
}

void BmpBandOutput::writeAt(const uchar *bytes, qint64 size, qint64 offset) {
    while (size > 0 && error_ == 0) {
        const ssize_t written = ::pwrite(fd_, bytes, std::size_t(size), offset);
        if (written < 0 && errno != EINTR)
            error_ = errno;
        else if (written > 0)
            bytes += written, size -= written, offset += written;
    }
}

} // namespace duoptica
