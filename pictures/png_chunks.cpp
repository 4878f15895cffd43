#include "png_chunks.h"

#include <QCoreApplication>
#include <QtEndian>

#include <algorithm>
#include <cmath>

namespace duoptica {

namespace {

const QByteArray kSignature = QByteArrayLiteral("\x89PNG\r\n\x1A\n");

// What the text chunks of one picture may cost in memory once decoded, generous for XMP and the
// profiles some tools keep in text. Metadata of this size decodes in a fraction of a second.
constexpr qint64 kMaxTextBytes = qint64(64) << 20;
// zlib inflates one byte to at most 1032; libpng stops inflating one chunk at 8 MB
// (PNG_USER_CHUNK_MALLOC_MAX in Debian's build).
constexpr qint64 kMaxInflation = 1032;
constexpr qint64 kMaxInflatedChunk = 8'000'000;
// Smaller chunks are read past rather than sought past: a seek costs a system call.
constexpr quint32 kSeekPast = 1 << 16;

QString reason(const char *text) {
    return QCoreApplication::translate("PictureFile", text);
}

// The bytes of the picture's rows before compression, by its header chunk; 0 when it makes no
// sense (the decoder refuses such a header itself). A double, as it may exceed 64 bits.
double rowBytes(const QByteArray &header) {
    constexpr int kChannels[] = {1, 0, 3, 1, 2, 0, 4}; // by colour type
    if (header.size() < 13 || quint8(header[9]) > 6)
        return 0;
    const double width = qFromBigEndian<quint32>(header.constData());
    const double height = qFromBigEndian<quint32>(header.constData() + 4);
    const double bits = quint8(header[8]) * kChannels[quint8(header[9])];
    return height * (1 + std::ceil(width * bits / 8));
}

// An iTXt chunk says after its keyword whether its text is compressed.
bool isCompressedInternationalText(QIODevice &input, quint32 length) {
    const QByteArray start = input.peek(std::min<quint32>(length, 81));
    const qsizetype end = start.indexOf('\0');
    return end >= 0 && end + 1 < start.size() && start[end + 1] != '\0';
}

// The memory the chunk's text may take once decoded.
qint64 textCost(const QByteArray &type, QIODevice &input, quint32 length) {
    if (type == "tEXt")
        return length;
    if (type == "zTXt" || (type == "iTXt" && isCompressedInternationalText(input, length)))
        return std::min(qint64(length) * kMaxInflation, kMaxInflatedChunk);
    return type == "iTXt" ? length : 0;
}

QString walkChunks(QIODevice &input) {
    qint64 textBytes = 0;
    double picture = 0;
    qint64 pictureData = 0;
    for (;;) {
        const QByteArray header = input.read(8);
        if (header.size() < 8)
            return reason("The file is truncated."); // it ends before its last chunk, IEND
        const quint32 length = qFromBigEndian<quint32>(header.constData());
        const QByteArray type = header.mid(4);
        const bool named = std::all_of(type.begin(), type.end(), [](char c) {
            return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        });
        if (length > 0x7FFFFFFFu || !named)
            return reason("Its chunks are damaged.");
        // The chunk's data and its checksum.
        const qint64 end = input.pos() + length + 4;
        if (end > input.size())
            return reason(
                       "The file is truncated: its %1 chunk declares %2 bytes, more than it holds.")
                .arg(QString::fromLatin1(type))
                .arg(length);
        if (type == "IEND") {
            // Even zlib's best leaves a byte for every 1032: fewer bytes of picture data than
            // that cannot hold the rows, and the decoder would set the picture aside for nothing.
            if (double(pictureData) * kMaxInflation < picture)
                return reason("The file is truncated.");
            return {};
        }
        if (type == "IHDR")
            picture = rowBytes(input.peek(13));
        if (type == "IDAT")
            pictureData += length;
        textBytes += textCost(type, input, length);
        if (textBytes > kMaxTextBytes)
            return reason("Its text chunks may take more than %1 MB.").arg(kMaxTextBytes >> 20);
        const bool past =
            length + 4 >= kSeekPast ? input.seek(end) : input.read(length + 4).size() == length + 4;
        if (!past)
            return reason("The file is truncated.");
    }
}

} // namespace

QString checkPngChunks(QIODevice &input) {
    if (input.peek(kSignature.size()) != kSignature)
        return {};
    input.read(kSignature.size());
    const QString refusal = walkChunks(input);
    input.seek(0);
    return refusal;
}

} // namespace duoptica
