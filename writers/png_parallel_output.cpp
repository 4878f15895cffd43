#include "png_parallel_output.h"

#include "deflate_join.h"
#include "picture_file.h"
#include "png_row_filter.h"

#include <QColorSpace>
#include <QtConcurrentMap>
#include <QtEndian>

#include <algorithm>
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
// The default level of both zlib and libdeflate; past it libdeflate's time grows much faster than
// its files shrink.
constexpr int kDeflateLevel = 6;

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

// zlib with its run-length strategy: Huffman codes and runs of a repeated byte, no search for
// matches. The rows of a photograph are mostly noise once filtered, where searched matches hardly
// pay: this is as small as libdeflate's level 6 there, in a third of its time. Ends on a byte
// boundary (the last band ends the stream). Empty when zlib fails.
std::vector<uchar> deflateRuns(const std::vector<uchar> &data, bool last) {
    z_stream stream{};
    // memLevel 9: larger blocks, whose codes cost less beside their data.
    if (deflateInit2(&stream, kDeflateLevel, Z_DEFLATED, -15, 9, Z_RLE) != Z_OK)
        return {};
    // A sync flush adds an empty stored block: five bytes past the bound.
    std::vector<uchar> bytes(deflateBound(&stream, uLong(data.size())) + 16);
    stream.next_in = const_cast<uchar *>(data.data());
    stream.avail_in = uInt(data.size());
    stream.next_out = bytes.data();
    stream.avail_out = uInt(bytes.size());
    const int status = deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH);
    const bool ok = stream.avail_in == 0 && (last ? status == Z_STREAM_END : status == Z_OK);
    bytes.resize(ok ? bytes.size() - stream.avail_out : 0);
    deflateEnd(&stream);
    return bytes;
}

// libdeflate, which searches matches several times faster than zlib at the same level: smooth
// colours and flat areas shrink far more than with runs alone. Its stream always ends, so all but
// the last band's are made joinable. Empty when libdeflate or the joining fails.
std::vector<uchar> deflateMatches(const std::vector<uchar> &data, bool last) {
    const std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
        libdeflate_alloc_compressor(kDeflateLevel), &libdeflate_free_compressor);
    if (!compressor)
        return {};
    std::vector<uchar> bytes(libdeflate_deflate_compress_bound(compressor.get(), data.size()));
    bytes.resize(libdeflate_deflate_compress(compressor.get(), data.data(), data.size(),
                                             bytes.data(), bytes.size()));
    if (!last && !bytes.empty() && !makeDeflateJoinable(bytes))
        bytes.clear();
    return bytes;
}

// A band's rows filtered and deflated both ways, keeping the smaller: runs win on noisy
// photographs, matches on smooth or flat pictures. The bands are not primed with the rows before
// them (libdeflate takes no dictionary): on a megabyte of rows that costs under 0.1 %.
DeflatedBand deflateBand(const QImage &picture, const Band &band) {
    DeflatedBand result;
    const std::vector<uchar> data = filteredRows(picture, band.firstRow, band.endRow);
    result.length = uLong(data.size());
    result.adler = adler32(1, data.data(), uInt(data.size()));
    result.bytes = deflateRuns(data, band.last);
    std::vector<uchar> matched = deflateMatches(data, band.last);
    if (result.bytes.empty() || (!matched.empty() && matched.size() < result.bytes.size()))
        result.bytes = std::move(matched);
    result.ok = !result.bytes.empty();
    return result;
}

QByteArray chunk(const char *type, const QByteArray &data) {
    QByteArray bytes(4, '\0');
    qToBigEndian<quint32>(quint32(data.size()), bytes.data());
    bytes += QByteArray(type, 4) + data;
    QByteArray crc(4, '\0');
    qToBigEndian<quint32>(quint32(crc32(0, reinterpret_cast<const Bytef *>(bytes.constData() + 4),
                                        uInt(4 + data.size()))),
                          crc.data());
    return bytes + crc;
}

QByteArray bigEndian32(quint32 value) {
    QByteArray bytes(4, '\0');
    qToBigEndian<quint32>(value, bytes.data());
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

    QByteArray header("\x89PNG\r\n\x1a\n", 8);
    QByteArray info = bigEndian32(quint32(picture.width())) +
                      bigEndian32(quint32(picture.height())) + QByteArray("\x08\x02\0\0\0", 5);
    header += chunk("IHDR", info);
    if (picture.dotsPerMeterX() > 0 || picture.dotsPerMeterY() > 0)
        header +=
            chunk("pHYs", bigEndian32(quint32(picture.dotsPerMeterX())) +
                              bigEndian32(quint32(picture.dotsPerMeterY())) + QByteArray(1, '\1'));
    // The zlib header (deflate, a 32 KiB window, default level) opens the first band's chunk; the
    // checksum of all the rows closes the last's.
    QByteArray png = header;
    for (std::size_t i = 0; i < deflated.size(); ++i) {
        QByteArray data =
            QByteArray::fromRawData(reinterpret_cast<const char *>(deflated[i].bytes.data()),
                                    qsizetype(deflated[i].bytes.size()));
        if (i == 0)
            data.prepend("\x78\x9c", 2);
        if (i + 1 == deflated.size())
            data += bigEndian32(quint32(adler));
        png += chunk("IDAT", data);
    }
    png += chunk("IEND", {});
    QString failedFile;
    return SaveFiles({{fileName, png}}, &failedFile);
}

} // namespace duoptica
