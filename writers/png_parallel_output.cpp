#include "png_parallel_output.h"

#include "deflate_join.h"
#include "picture_file.h"
#include "png_row_filter.h"

#include <QColorSpace>
#include <QtConcurrentMap>
#include <QtEndian>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <vector>

#include <libdeflate.h>
#include <zlib.h>

namespace duoptica {

namespace {

constexpr std::size_t kBytesPerPixel = kPngPixelBytes;
// Rows deflated together: about a megabyte of a 6000-pixel-wide picture, so that every core gets
// many bands and each band's deflate state costs little beside its data.
constexpr int kBandBytes = 1 << 20;
// libdeflate's levels: the fastest to find out whether matches pay in a band, and the one that
// searches them where they do. Level 9 costs little on the smooth rows that get there and beats
// Qt's file on a smooth gradient, where level 6 is 11 % larger; past 9 libdeflate parses for the
// smallest file, many times slower.
constexpr int kProbeLevel = 1;
constexpr int kMatchesLevel = 9;

// Row y as stored in the file before filtering: red, green and blue bytes.
void rgbRow(const QImage &picture, int y, uchar *out) {
    const auto *in = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
    for (int x = 0; x < picture.width(); ++x, out += kBytesPerPixel) {
        out[0] = uchar(qRed(in[x]));
        out[1] = uchar(qGreen(in[x]));
        out[2] = uchar(qBlue(in[x]));
    }
}

struct Band {
    int firstRow = 0;
    int endRow = 0;
    bool last = false;
};

struct DeflatedBand {
    std::vector<uchar> bytes;
    uLong adler = 1;
    uLong length = 0; // of the filtered rows
    bool ok = false;
};

// The filtered rows from firstRow to endRow, as they stand in the file's data.
std::vector<uchar> filteredRows(const QImage &picture, int firstRow, int endRow) {
    const std::size_t length = std::size_t(picture.width()) * kBytesPerPixel;
    std::vector<uchar> filtered(std::size_t(endRow - firstRow) * (length + 1));
    // Each row follows a pixel of zeros, the left neighbour of its first pixel.
    std::vector<uchar> above(kPngPixelBytes + length, 0);
    std::vector<uchar> row(kPngPixelBytes + length, 0);
    PngRowFilter filter(length);
    if (firstRow > 0)
        rgbRow(picture, firstRow - 1, above.data() + kPngPixelBytes);
    for (int y = firstRow; y < endRow; ++y) {
        rgbRow(picture, y, row.data() + kPngPixelBytes);
        filter.filter(row.data() + kPngPixelBytes, above.data() + kPngPixelBytes,
                      filtered.data() + std::size_t(y - firstRow) * (length + 1));
        std::swap(row, above);
    }
    return filtered;
}

// Room for a compressor's output, left uninitialised: only the pages it writes are touched.
struct OutputRoom {
    explicit OutputRoom(std::size_t size)
        : bytes(std::make_unique_for_overwrite<uchar[]>(size))
        , size(size) {}
    std::unique_ptr<uchar[]> bytes;
    std::size_t size;
};

// zlib with its run-length strategy: Huffman codes and runs of a repeated byte, no search for
// matches. The rows of a photograph are mostly noise once filtered, where searched matches hardly
// pay: this is within 0.3 % of libdeflate's level 9 there, in an eighth of its time. Ends on a byte
// boundary (the last band ends the stream). Empty when zlib fails.
std::vector<uchar> deflateRuns(const std::vector<uchar> &data, bool last) {
    z_stream stream{};
    // memLevel 9: larger blocks, whose codes cost less beside their data.
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 9, Z_RLE) != Z_OK)
        return {};
    // A sync flush adds an empty stored block: five bytes past the bound.
    OutputRoom room(deflateBound(&stream, uLong(data.size())) + 16);
    stream.next_in = const_cast<uchar *>(data.data());
    stream.avail_in = uInt(data.size());
    stream.next_out = room.bytes.get();
    stream.avail_out = uInt(room.size);
    const int status = deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH);
    const bool ok = stream.avail_in == 0 && (last ? status == Z_STREAM_END : status == Z_OK);
    deflateEnd(&stream);
    return ok ? std::vector<uchar>(room.bytes.get(), room.bytes.get() + stream.total_out)
              : std::vector<uchar>();
}

// libdeflate, which searches matches several times faster than zlib at the same level: smooth
// colours and flat areas shrink far more than with runs alone. Deflates data into room as a whole
// stream, ended, and returns its size: 0 when libdeflate fails.
std::size_t deflateMatches(const std::vector<uchar> &data, int level, OutputRoom &room) {
    const std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
        libdeflate_alloc_compressor(level), &libdeflate_free_compressor);
    if (!compressor)
        return 0;
    return libdeflate_deflate_compress(compressor.get(), data.data(), data.size(), room.bytes.get(),
                                       room.size);
}

// A band's rows filtered and deflated as runs, or with matches where that is smaller: runs win on
// noisy photographs, matches on smooth or flat pictures. libdeflate's fastest level tells cheaply
// whether matches pay at all; only then is the band deflated again, searching harder. The
// bands are not primed with the rows before them (libdeflate takes no dictionary): on a megabyte
// of rows that costs under 0.1 %.
DeflatedBand deflateBand(const QImage &picture, const Band &band) {
    DeflatedBand result;
    const std::vector<uchar> data = filteredRows(picture, band.firstRow, band.endRow);
    result.length = uLong(data.size());
    result.adler = adler32(1, data.data(), uInt(data.size()));
    result.bytes = deflateRuns(data, band.last);
    // libdeflate's bound for any level: its output never exceeds stored blocks.
    OutputRoom room(libdeflate_deflate_compress_bound(nullptr, data.size()));
    const std::size_t probed = deflateMatches(data, kProbeLevel, room);
    if (result.bytes.empty() || (probed > 0 && probed < result.bytes.size())) {
        const std::size_t size = deflateMatches(data, kMatchesLevel, room);
        std::vector<uchar> matched(room.bytes.get(), room.bytes.get() + size);
        // libdeflate always ends its stream: all but the last band's must let the next follow.
        if (!band.last && !matched.empty() && !makeDeflateJoinable(matched))
            matched.clear();
        if (!matched.empty() && (result.bytes.empty() || matched.size() < result.bytes.size()))
            result.bytes = std::move(matched);
    }
    result.ok = !result.bytes.empty();
    return result;
}

void appendBigEndian32(QByteArray &bytes, quint32 value) {
    char buffer[4];
    qToBigEndian<quint32>(value, buffer);
    bytes.append(buffer, 4);
}

// Appends a chunk of the given type whose data is the parts in turn.
void appendChunk(QByteArray &png, const char *type, std::initializer_list<QByteArrayView> parts) {
    qsizetype length = 0;
    for (const QByteArrayView part : parts)
        length += part.size();
    appendBigEndian32(png, quint32(length));
    const qsizetype start = png.size();
    png.append(type, 4);
    for (const QByteArrayView part : parts)
        png.append(part);
    appendBigEndian32(png,
                      quint32(crc32(0, reinterpret_cast<const Bytef *>(png.constData() + start),
                                    uInt(png.size() - start))));
}

QByteArray bigEndian32(quint32 value) {
    QByteArray bytes;
    appendBigEndian32(bytes, value);
    return bytes;
}

} // namespace

bool canWritePngInParallel(const QImage &picture) {
    return picture.format() == QImage::Format_RGB32 && !picture.isNull() &&
           picture.textKeys().isEmpty() && !picture.colorSpace().isValid();
}

QString writePngInParallel(const QImage &picture, const QString &fileName, bool allThreads) {
    const std::size_t rowBytes = std::size_t(picture.width()) * kBytesPerPixel + 1;
    const int bandRows = int(std::max<std::size_t>(1, kBandBytes / rowBytes));
    std::vector<Band> bands;
    for (int row = 0; row < picture.height(); row += bandRows)
        bands.push_back(
            {row, std::min(row + bandRows, picture.height()), row + bandRows >= picture.height()});
    const auto deflateOne = [&](const Band &band) { return deflateBand(picture, band); };
    std::vector<DeflatedBand> deflated;
    if (allThreads) {
        deflated = QtConcurrent::blockingMapped<std::vector<DeflatedBand>>(bands, deflateOne);
    } else {
        for (const Band &band : bands)
            deflated.push_back(deflateOne(band));
    }
    uLong adler = 1;
    for (const DeflatedBand &band : deflated) {
        if (!band.ok)
            return QStringLiteral("The picture could not be compressed.");
        adler = adler32_combine(adler, band.adler, z_off_t(band.length));
    }

    constexpr qsizetype kChunkOverhead = 12; // length, type and checksum
    qsizetype total = 8 + 2 * kChunkOverhead + 13 + 9 + 2 + 4 + kChunkOverhead;
    for (const DeflatedBand &band : deflated)
        total += qsizetype(band.bytes.size()) + kChunkOverhead;
    QByteArray png;
    png.reserve(total);
    png.append("\x89PNG\r\n\x1a\n", 8);
    appendChunk(png, "IHDR",
                {bigEndian32(quint32(picture.width())), bigEndian32(quint32(picture.height())),
                 QByteArrayView("\x08\x02\0\0\0", 5)});
    if (picture.dotsPerMeterX() > 0 || picture.dotsPerMeterY() > 0)
        appendChunk(png, "pHYs",
                    {bigEndian32(quint32(picture.dotsPerMeterX())),
                     bigEndian32(quint32(picture.dotsPerMeterY())), QByteArrayView("\1", 1)});
    // The zlib header (deflate, a 32 KiB window, default level) opens the first band's chunk; the
    // checksum of all the rows closes the last's.
    for (std::size_t i = 0; i < deflated.size(); ++i) {
        const QByteArrayView data(deflated[i].bytes.data(), qsizetype(deflated[i].bytes.size()));
        const QByteArray checksum =
            i + 1 == deflated.size() ? bigEndian32(quint32(adler)) : QByteArray();
        appendChunk(png, "IDAT",
                    {i == 0 ? QByteArrayView("\x78\x9c", 2) : QByteArrayView(), data, checksum});
    }
    appendChunk(png, "IEND", {});
    QString failedFile;
    return SaveFiles({{fileName, png}}, &failedFile);
}

} // namespace duoptica
