#include "bmp_direct.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtConcurrentMap>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace duoptica {

namespace {

constexpr qint64 kFileHeaderSize = 14;
constexpr qint64 kInfoHeaderSize = 40;
constexpr qint64 kHeadersSize = kFileHeaderSize + kInfoHeaderSize;
constexpr int kBandRows = 64;

qint64 rowBytes(qint64 width, int bitsPerPixel) {
    return (width * bitsPerPixel + 31) / 32 * 4;
}

// An uncompressed BMP as Qt's reader reads it, with every row lying within the mapped file.
struct BmpView {
    const uchar *pixels = nullptr; // the first row stored
    int width = 0;
    int height = 0;
    bool topDown = false;
    int bitsPerPixel = 0;
    qint64 stride = 0;
    qint32 dotsPerMeterX = 0;
    qint32 dotsPerMeterY = 0;

    // Row y counted from the top of the picture.
    const uchar *row(int y) const { return pixels + stride * (topDown ? y : height - 1 - y); }
};

template <typename T> T little(const uchar *bytes) {
    return qFromLittleEndian<T>(bytes);
}

// Only the plainest layout qualifies: anything else (palettes, masks, larger headers, odd
// resolutions) keeps Qt's reader, so that the direct path never decodes differently.
std::optional<BmpView> viewBmp(const uchar *file, qint64 fileSize, qint64 maxPixels) {
    if (fileSize < kHeadersSize || file[0] != 'B' || file[1] != 'M')
        return std::nullopt;
    const quint32 offset = little<quint32>(file + 10);
    const qint32 width = little<qint32>(file + 18);
    const qint32 height = little<qint32>(file + 22);
    const int bits = little<quint16>(file + 28);
    BmpView view;
    view.dotsPerMeterX = little<qint32>(file + 38);
    view.dotsPerMeterY = little<qint32>(file + 42);
    if (little<quint32>(file + 14) != kInfoHeaderSize || little<quint16>(file + 26) != 1 ||
        (bits != 24 && bits != 32) || little<quint32>(file + 30) != 0 ||
        little<quint32>(file + 46) != 0 || view.dotsPerMeterX <= 0 || view.dotsPerMeterY <= 0)
        return std::nullopt;
    if (width <= 0 || height == 0 || height == std::numeric_limits<qint32>::min())
        return std::nullopt;
    view.width = width;
    view.height = height < 0 ? -height : height;
    if (qint64(view.width) * view.height > maxPixels)
        return std::nullopt;
    view.topDown = height < 0;
    view.bitsPerPixel = bits;
    view.stride = rowBytes(view.width, bits);
    if (offset < kHeadersSize || offset > fileSize || view.stride * view.height > fileSize - offset)
        return std::nullopt;
    view.pixels = file + offset;
    return view;
}

void expandRow(const BmpView &bmp, int y, PackedPixel *out) {
    const uchar *in = bmp.row(y);
    if (bmp.bitsPerPixel == 32) {
        std::memcpy(out, in, std::size_t(bmp.width) * 4);
        return;
    }
    for (int x = 0; x < bmp.width; ++x, in += 3)
        out[x] = 0xFF000000u | PackedPixel(in[2]) << 16 | PackedPixel(in[1]) << 8 | in[0];
}

// The file and info headers exactly as Qt's BMP writer gives them for a 32-bit picture.
void writeHeaders(uchar *out, const BmpView &left, qint64 fileSize) {
    std::memset(out, 0, kHeadersSize);
    out[0] = 'B';
    out[1] = 'M';
    qToLittleEndian<quint32>(quint32(fileSize), out + 2);
    qToLittleEndian<quint32>(quint32(kHeadersSize), out + 10);
    qToLittleEndian<quint32>(quint32(kInfoHeaderSize), out + 14);
    qToLittleEndian<qint32>(left.width, out + 18);
    qToLittleEndian<qint32>(left.height, out + 22);
    qToLittleEndian<quint16>(1, out + 26);
    qToLittleEndian<quint16>(24, out + 28);
    qToLittleEndian<quint32>(quint32(fileSize - kHeadersSize), out + 34);
    qToLittleEndian<qint32>(left.dotsPerMeterX, out + 38);
    qToLittleEndian<qint32>(left.dotsPerMeterY, out + 42);
}

struct MappedFile {
    QFile file;
    uchar *bytes = nullptr;
    qint64 size = 0;

    bool map(const QString &name) {
        // Only a regular file is opened here: opening a FIFO would wait for a writer.
        if (!QFileInfo(name).isFile())
            return false;
        file.setFileName(name);
        if (!file.open(QIODevice::ReadOnly) || (size = file.size()) < kHeadersSize)
            return false;
        // Populated at once: one pass in the kernel costs far less than a fault a page.
        void *mapped = ::mmap(nullptr, std::size_t(size), PROT_READ, MAP_PRIVATE | MAP_POPULATE,
                              file.handle(), 0);
        if (mapped == MAP_FAILED)
            return false;
        bytes = static_cast<uchar *>(mapped);
        return true;
    }
    ~MappedFile() {
        if (bytes)
            ::munmap(bytes, std::size_t(size));
    }
};

} // namespace

std::optional<Outcome> combineBmpDirect(const PairJob &job, qint64 maxPixels, Threads threads) {
    if (job.layout != StereoLayout::Pair || job.align || job.format != "bmp")
        return std::nullopt;
    MappedFile leftFile;
    MappedFile rightFile;
    if (!leftFile.map(job.swap ? job.rightFile : job.leftFile) ||
        !rightFile.map(job.swap ? job.leftFile : job.rightFile))
        return std::nullopt;
    const std::optional<BmpView> left = viewBmp(leftFile.bytes, leftFile.size, maxPixels);
    const std::optional<BmpView> right = viewBmp(rightFile.bytes, rightFile.size, maxPixels);
    if (!left || !right || left->width != right->width || left->height != right->height)
        return std::nullopt;

    const qint64 outStride = rowBytes(left->width, 24);
    const qint64 outSize = kHeadersSize + outStride * left->height;
    QSaveFile file(job.outputFile);
    const auto failure = [&](const QString &why) {
        file.cancelWriting();
        return Outcome{ExitCode::WriteFailure,
                       QStringLiteral("%1: cannot write: %2").arg(job.outputFile, why)};
    };
    if (!file.open(QIODevice::WriteOnly))
        return failure(file.errorString());
    // Each band is written where it belongs as soon as it is combined, so that writing overlaps
    // combining and no whole output is ever held.
    const int output = file.handle();
    std::atomic<int> writeError = 0;
    const auto writeAt = [&](const uchar *bytes, qint64 size, qint64 offset) {
        while (size > 0 && writeError == 0) {
            const ssize_t written = ::pwrite(output, bytes, std::size_t(size), offset);
            if (written < 0 && errno != EINTR)
                writeError = errno;
            else if (written > 0)
                bytes += written, size -= written, offset += written;
        }
    };
    uchar headers[kHeadersSize];
    writeHeaders(headers, *left, outSize);
    writeAt(headers, kHeadersSize, 0);

    const auto combineBand = [&](int firstRow) {
        const std::size_t width = std::size_t(left->width);
        const int endRow = std::min(firstRow + kBandRows, left->height);
        std::vector<PackedPixel> rows(width * 3);
        std::vector<uchar> band(std::size_t(outStride) * std::size_t(endRow - firstRow));
        PackedPixel *const leftRow = rows.data();
        PackedPixel *const rightRow = leftRow + width;
        PackedPixel *const combined = rightRow + width;
        for (int y = firstRow; y < endRow; ++y) {
            expandRow(*left, y, leftRow);
            expandRow(*right, y, rightRow);
            combineMethodSpan(leftRow, rightRow, combined, width, job.mode);
            // Qt writes bottom-up, with zero padding (the band's bytes start zeroed).
            uchar *out = band.data() + outStride * (endRow - 1 - y);
            for (std::size_t x = 0; x < width; ++x, out += 3) {
                out[0] = uchar(combined[x]);
                out[1] = uchar(combined[x] >> 8);
                out[2] = uchar(combined[x] >> 16);
            }
        }
        writeAt(band.data(), qint64(band.size()),
                kHeadersSize + outStride * (left->height - endRow));
    };
    std::vector<int> bands;
    for (int row = 0; row < left->height; row += kBandRows)
        bands.push_back(row);
    if (threads == Threads::One)
        std::for_each(bands.begin(), bands.end(), combineBand);
    else
        QtConcurrent::blockingMap(bands, combineBand);

    if (writeError != 0)
        return failure(qt_error_string(writeError));
    if (!file.commit())
        return Outcome{
            ExitCode::WriteFailure,
            QStringLiteral("%1: cannot write: %2").arg(job.outputFile, file.errorString())};
    return Outcome{};
}

} // namespace duoptica
