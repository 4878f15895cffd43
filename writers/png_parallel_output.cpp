#include "png_parallel_output.h"

#include "deflate_join.h"
#include "disk_sync.h"
#include "png_row_filter.h"

#include <QColorSpace>
#include <QSaveFile>
#include <QThreadPool>
#include <QtConcurrentRun>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <memory>

#include <libdeflate.h>
#include <zlib.h>

namespace duoptica {

namespace {

constexpr std::size_t kBytesPerPixel = kPngPixelBytes;
// Rows deflated together: about a megabyte of a 6000-pixel-wide picture, so that every core gets
// many pieces and each piece's deflate state costs little beside its data.
constexpr std::size_t kPieceBytes = 1 << 20;
// libdeflate's levels: the fastest to find out whether matches pay in a piece, and the one that
// searches them where they do. Level 9 costs little on the smooth rows that get there and beats
// Qt's file on a smooth gradient, where level 6 is 11 % larger; past 9 libdeflate parses for the
// smallest file, many times slower.
constexpr int kProbeLevel = 1;
constexpr int kMatchesLevel = 9;

// A row as stored in the file before filtering: red, green and blue bytes.
void rgbRow(const PackedPixel *in, int width, uchar *out) {
    for (int x = 0; x < width; ++x, out += kBytesPerPixel) {
        out[0] = uchar(qRed(in[x]));
        out[1] = uchar(qGreen(in[x]));
        out[2] = uchar(qBlue(in[x]));
    }
}

using Piece = PngRowStream::Piece;
using DeflatedPiece = PngRowStream::DeflatedPiece;

// The piece's rows filtered, as they stand in the file's data.
std::vector<uchar> filteredRows(const Piece &piece, int width) {
    const std::size_t length = std::size_t(width) * kBytesPerPixel;
    std::vector<uchar> filtered(std::size_t(piece.rows) * (length + 1));
    // Each row follows a pixel of zeros, the left neighbour of its first pixel.
    std::vector<uchar> above(kPngPixelBytes + length, 0);
    std::vector<uchar> row(kPngPixelBytes + length, 0);
    PngRowFilter filter(length);
    rgbRow(piece.words.data(), width, above.data() + kPngPixelBytes);
    for (int y = 0; y < piece.rows; ++y) {
        rgbRow(piece.words.data() + std::size_t(width) * std::size_t(y + 1), width,
               row.data() + kPngPixelBytes);
        filter.filter(row.data() + kPngPixelBytes, above.data() + kPngPixelBytes,
                      filtered.data() + std::size_t(y) * (length + 1));
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
// boundary (the last piece ends the stream). Empty when zlib fails.
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

// A piece's rows filtered and deflated as runs, or with matches where that is smaller: runs win
// on noisy photographs, matches on smooth or flat pictures. libdeflate's fastest level tells
// cheaply whether matches pay at all; only then is the piece deflated again, searching harder.
// The pieces are not primed with the rows before them (libdeflate takes no dictionary): on a
// megabyte of rows that costs under 0.1 %.
DeflatedPiece deflatePiece(const Piece &piece, int width) {
    DeflatedPiece result;
    result.last = piece.last;
    const std::vector<uchar> data = filteredRows(piece, width);
    result.length = uLong(data.size());
    result.adler = adler32(1, data.data(), uInt(data.size()));
    result.bytes = deflateRuns(data, piece.last);
    // libdeflate's bound for any level: its output never exceeds stored blocks.
    OutputRoom room(libdeflate_deflate_compress_bound(nullptr, data.size()));
    const std::size_t probed = deflateMatches(data, kProbeLevel, room);
    if (result.bytes.empty() || (probed > 0 && probed < result.bytes.size())) {
        const std::size_t size = deflateMatches(data, kMatchesLevel, room);
        std::vector<uchar> matched(room.bytes.get(), room.bytes.get() + size);
        // libdeflate always ends its stream: all but the last piece's must let the next follow.
        if (!piece.last && !matched.empty() && !makeDeflateJoinable(matched))
            matched.clear();
        if (!matched.empty() && (result.bytes.empty() || matched.size() < result.bytes.size()))
            result.bytes = std::move(matched);
    }
    result.ok = !result.bytes.empty();
    return result;
}

QByteArray bigEndian32(quint32 value) {
    QByteArray bytes(4, Qt::Uninitialized);
    qToBigEndian<quint32>(value, bytes.data());
    return bytes;
}

} // namespace

bool canWritePngInParallel(const QImage &picture) {
    return picture.format() == QImage::Format_RGB32 && !picture.isNull() &&
           picture.textKeys().isEmpty() && !picture.colorSpace().isValid();
}

QString writePngInParallel(const QImage &picture, const QString &fileName, bool allThreads) {
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    QString why;
    {
        PngRowStream png(file, allThreads);
        bool written = png.begin(picture.width(), picture.height(), picture.dotsPerMeterX(),
                                 picture.dotsPerMeterY());
        for (int y = 0; y < picture.height() && written; ++y)
            written =
                png.addRows(reinterpret_cast<const PackedPixel *>(picture.constScanLine(y)), y, 1);
        if (!written || !png.finish())
            why = png.errorString();
    }
    if (!why.isEmpty()) {
        file.cancelWriting();
        return why;
    }
    return commitToDisk(file);
}

PngRowStream::PngRowStream(QIODevice &device, bool allThreads)
    : device_(device)
    , allThreads_(allThreads)
    // Two a thread: one deflating, one filled and waiting, so that no thread idles while the
    // rows come.
    , inFlight_(allThreads
                    ? 2 * std::size_t(std::max(1, QThreadPool::globalInstance()->maxThreadCount()))
                    : 0) {}

PngRowStream::~PngRowStream() {
    for (QFuture<DeflatedPiece> &piece : deflating_)
        piece.waitForFinished();
}

bool PngRowStream::fail(const QString &why) {
    error_ = why;
    return false;
}

bool PngRowStream::begin(int width, int height, int dotsPerMeterX, int dotsPerMeterY) {
    if (width <= 0 || height <= 0)
        return fail(QStringLiteral("There is no picture to save."));
    width_ = width;
    height_ = height;
    const std::size_t rowBytes = std::size_t(width) * kBytesPerPixel + 1;
    rowsPerPiece_ = int(std::clamp<std::size_t>(kPieceBytes / rowBytes, 1, std::size_t(height)));
    filling_.words.assign(std::size_t(width) * std::size_t(rowsPerPiece_ + 1), 0);
    if (!device_.isOpen() || device_.write("\x89PNG\r\n\x1a\n", 8) != 8)
        return fail(writeFailure());
    if (!writeChunk("IHDR", {bigEndian32(quint32(width)), bigEndian32(quint32(height)),
                             QByteArrayView("\x08\x02\0\0\0", 5)}))
        return false;
    if (dotsPerMeterX > 0 || dotsPerMeterY > 0)
        return writeChunk("pHYs", {bigEndian32(quint32(dotsPerMeterX)),
                                   bigEndian32(quint32(dotsPerMeterY)), QByteArrayView("\1", 1)});
    return true;
}

bool PngRowStream::addRows(const PackedPixel *rows, int firstRow, int count) {
    if (firstRow != nextRow_ || count < 0 || count > height_ - nextRow_)
        return fail(QStringLiteral("The rows of the picture came out of order."));
    const std::size_t width = std::size_t(width_);
    for (int y = 0; y < count; ++y) {
        std::copy_n(rows + width * std::size_t(y), width,
                    filling_.words.begin() + std::ptrdiff_t(width * std::size_t(++filling_.rows)));
        ++nextRow_;
        if (filling_.rows == rowsPerPiece_ || nextRow_ == height_) {
            Piece full = std::move(filling_);
            full.last = nextRow_ == height_;
            filling_ = {};
            if (!full.last) {
                // The next piece is filtered against the row above it, this piece's last.
                filling_.words.resize(full.words.size());
                std::copy_n(full.words.end() - std::ptrdiff_t(width), width,
                            filling_.words.begin());
            }
            if (!hand(std::move(full)))
                return false;
        }
    }
    return true;
}

// Deflates the piece here or hands it to the pool, and writes what has finished in order.
bool PngRowStream::hand(Piece piece) {
    if (!allThreads_)
        return writePiece(deflatePiece(piece, width_));
    deflating_.push_back(QtConcurrent::run(
        [piece = std::move(piece), width = width_] { return deflatePiece(piece, width); }));
    return writeFinished(inFlight_);
}

// Writes the pieces at the front that have finished, and waits for more until at most keep are
// left.
bool PngRowStream::writeFinished(std::size_t keep) {
    while (!deflating_.empty() && (deflating_.size() > keep || deflating_.front().isFinished())) {
        const DeflatedPiece piece = deflating_.front().takeResult();
        deflating_.pop_front();
        if (!writePiece(piece))
            return false;
    }
    return true;
}

bool PngRowStream::finish() {
    if (nextRow_ != height_)
        return fail(QStringLiteral("The picture lacks rows."));
    return writeFinished(0) && writeChunk("IEND", {});
}

// The zlib header (deflate, a 32 KiB window, default level) opens the first piece's chunk; the
// checksum of all the rows closes the last's.
bool PngRowStream::writePiece(const DeflatedPiece &piece) {
    if (!piece.ok)
        return fail(QStringLiteral("The picture could not be compressed."));
    adler_ = adler32_combine(adler_, piece.adler, z_off_t(piece.length));
    const bool first = !dataStarted_;
    dataStarted_ = true;
    const QByteArray checksum = piece.last ? bigEndian32(quint32(adler_)) : QByteArray();
    return writeChunk("IDAT", {first ? QByteArrayView("\x78\x9c", 2) : QByteArrayView(),
                               QByteArrayView(piece.bytes.data(), qsizetype(piece.bytes.size())),
                               checksum});
}

// A chunk of the given type whose data is the parts in turn.
bool PngRowStream::writeChunk(const char *type, std::initializer_list<QByteArrayView> parts) {
    qsizetype length = 0;
    for (const QByteArrayView part : parts)
        length += part.size();
    QByteArray head = bigEndian32(quint32(length));
    head.append(type, 4);
    uLong crc = crc32(0, reinterpret_cast<const Bytef *>(type), 4);
    // Not over an empty part: zlib takes a null buffer for a request to start again.
    for (const QByteArrayView part : parts)
        if (!part.isEmpty())
            crc = crc32(crc, reinterpret_cast<const Bytef *>(part.data()), uInt(part.size()));
    errno = 0;
    bool written = device_.write(head) == head.size();
    for (const QByteArrayView part : parts)
        written =
            written && (part.isEmpty() || device_.write(part.data(), part.size()) == part.size());
    written = written && device_.write(bigEndian32(quint32(crc))) == 4;
    return written || fail(writeFailure());
}

// Qt 6.4 loses the reason of a failed buffered write, yet the system's is still in errno.
QString PngRowStream::writeFailure() const {
    return errno != 0 ? qt_error_string(errno) : device_.errorString();
}

} // namespace duoptica
