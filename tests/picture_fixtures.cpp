#include "picture_fixtures.h"

#include "heif_boxes.h"

#include <libheif/heif.h>

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <cstring>

#include <algorithm>
#include <array>
#include <span>

#include <sys/stat.h>

namespace fixtures {

namespace {

// The picture as palette indexes. Qt keeps every colour exactly while there are at most 256.
QImage indexed(const QImage &picture) {
    return picture.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither);
}

// Pixel bytes of one uncompressed BMP row, padded to four bytes; the picture is indexed for up to
// 8 bits.
QByteArray bmpRow(const QImage &picture, int y, int bits) {
    QByteArray row;
    if (bits <= 8) {
        const uchar *index = picture.constScanLine(y);
        const int perByte = 8 / bits;
        for (int x = 0; x < picture.width(); x += perByte) {
            int byte = 0;
            for (int i = 0; i < perByte; ++i)
                byte = (byte << bits) | (x + i < picture.width() ? index[x + i] : 0);
            row += char(byte);
        }
    } else {
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb rgb = picture.pixel(x, y);
            if (bits == 16) {
                const int value =
                    (qRed(rgb) >> 3) << 10 | (qGreen(rgb) >> 3) << 5 | qBlue(rgb) >> 3;
                row += char(value & 0xFF);
                row += char(value >> 8);
            } else {
                row += char(qBlue(rgb));
                row += char(qGreen(rgb));
                row += char(qRed(rgb));
                if (bits == 32)
                    row += char(0);
            }
        }
    }
    while (row.size() % 4 != 0)
        row += char(0);
    return row;
}

// One RLE row: runs of one index, each a count and the index (twice, for 4 bits), then the
// end-of-line mark.
QByteArray rleRow(const QImage &picture, int y, int bits) {
    const uchar *index = picture.constScanLine(y);
    QByteArray row;
    for (int x = 0; x < picture.width();) {
        int run = 1;
        while (x + run < picture.width() && run < 255 && index[x + run] == index[x])
            ++run;
        row += char(run);
        row += char(bits == 4 ? (index[x] << 4 | index[x]) : index[x]);
        x += run;
    }
    row += char(0);
    row += char(0);
    return row;
}

// LZW codes written least significant bit first, cut into sub-blocks of at most 255 bytes.
class GifCodeWriter {
public:
    void put(int code, int width) {
        bits_ |= quint32(code) << count_;
        count_ += width;
        while (count_ >= 8) {
            bytes_ += char(bits_ & 0xFF);
            bits_ >>= 8;
            count_ -= 8;
        }
    }
    QByteArray subBlocks() {
        if (count_ > 0)
            bytes_ += char(bits_ & 0xFF);
        QByteArray blocks;
        for (qsizetype i = 0; i < bytes_.size(); i += 255) {
            const QByteArray block = bytes_.mid(i, 255);
            blocks += char(block.size());
            blocks += block;
        }
        return blocks + char(0);
    }

private:
    QByteArray bytes_;
    quint32 bits_ = 0;
    int count_ = 0;
};

QList<int> gifRowOrder(int height, bool interlaced) {
    using Passes = QList<std::pair<int, int>>; // first row and step of each pass
    QList<int> order;
    for (const auto &[start, step] :
         interlaced ? Passes{{0, 8}, {4, 8}, {2, 4}, {1, 2}} : Passes{{0, 1}})
        for (int y = start; y < height; y += step)
            order << y;
    return order;
}

void putLittle16(QByteArray &bytes, int value) {
    bytes += char(value & 0xFF);
    bytes += char((value >> 8) & 0xFF);
}

QByteArray gifHeader(int width, int height) {
    QByteArray bytes("GIF89a");
    putLittle16(bytes, width);
    putLittle16(bytes, height);
    bytes += char(0xF7); // a global colour table of 256 entries
    bytes += char(0);
    bytes += char(0);
    return bytes;
}

// A JPEG of a small picture whose frame header claims another size.

QByteArray bmpHeaderDeclaring(QSize size) {
    QByteArray bytes = bmpBytes(patternPicture({4, 4}, 8), BmpLayout::Rgb24).left(54);
    QDataStream stream(&bytes, QIODevice::ReadWrite);
    stream.setByteOrder(QDataStream::LittleEndian);
    stream.device()->seek(18);
    stream << qint32(size.width()) << qint32(size.height());
    return bytes;
}

} // namespace

QImage patternPicture(QSize size, int colours) {
    QList<QRgb> palette;
    for (int i = 0; i < colours; ++i)
        palette << (colours <= 8 ? qRgb(i & 1 ? 255 : 0, i & 2 ? 255 : 0, i & 4 ? 255 : 0)
                                 : qRgb(i * 37 % 256, i * 91 % 256, i * 53 % 256));
    QImage picture(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            picture.setPixel(x, y, palette[(x * 3 + y * 7 + (x * y) % 5) % colours]);
    return picture;
}

QImage smoothPicture(QSize size) {
    QImage picture(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            picture.setPixel(x, y,
                             qRgb(x * 255 / size.width(), y * 255 / size.height(),
                                  (x + y) * 127 / (size.width() + size.height()) + 64));
    return picture;
}

QByteArray bmpBytes(const QImage &picture, BmpLayout layout) {
    // Bits per pixel, in the order of BmpLayout.
    const int bits = std::array{1, 4, 8, 4, 8, 16, 24, 24, 32}[std::size_t(layout)];
    const int compression = layout == BmpLayout::Rle8 ? 1 : (layout == BmpLayout::Rle4 ? 2 : 0);
    const QImage source = bits <= 8 ? indexed(picture) : picture;
    const QList<QRgb> palette = source.colorTable();
    Q_ASSERT(bits > 8 || palette.size() <= (1 << bits));
    const bool topDown = layout == BmpLayout::Rgb24TopDown;

    QByteArray pixels;
    for (int row = 0; row < picture.height(); ++row) {
        const int y = topDown ? row : picture.height() - 1 - row;
        pixels += compression ? rleRow(source, y, bits) : bmpRow(source, y, bits);
    }
    if (compression)
        pixels += QByteArray("\0\1", 2); // end of bitmap

    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream.setByteOrder(QDataStream::LittleEndian);
    const quint32 offset = 14 + 40 + 4 * quint32(palette.size());
    stream.writeRawData("BM", 2);
    stream << quint32(offset + pixels.size()) << quint32(0) << offset;
    stream << quint32(40) << qint32(picture.width())
           << qint32(topDown ? -picture.height() : picture.height()) << quint16(1) << quint16(bits)
           << quint32(compression) << quint32(pixels.size()) << qint32(2835) << qint32(2835)
           << quint32(palette.size()) << quint32(0);
    for (const QRgb rgb : palette)
        stream << quint8(qBlue(rgb)) << quint8(qGreen(rgb)) << quint8(qRed(rgb)) << quint8(0);
    stream.writeRawData(pixels.constData(), int(pixels.size()));
    return bytes;
}

QByteArray gifBytes(const QImage &picture, bool interlaced) {
    const QImage source = indexed(picture);
    const QList<QRgb> palette = source.colorTable();
    Q_ASSERT(palette.size() <= 256);
    QByteArray bytes = gifHeader(picture.width(), picture.height());
    for (int i = 0; i < 256; ++i) {
        const QRgb rgb = i < palette.size() ? palette[i] : 0;
        bytes += char(qRed(rgb));
        bytes += char(qGreen(rgb));
        bytes += char(qBlue(rgb));
    }
    bytes += char(0x2C);
    putLittle16(bytes, 0);
    putLittle16(bytes, 0);
    putLittle16(bytes, picture.width());
    putLittle16(bytes, picture.height());
    bytes += char(interlaced ? 0x40 : 0);
    bytes += char(8); // minimum code size: 256 literals, clear 256, end 257

    constexpr int kClear = 256, kEnd = 257, kWidth = 9;
    GifCodeWriter codes;
    int sinceClear = 100;
    for (const int y : gifRowOrder(picture.height(), interlaced))
        for (const uchar index : std::span(source.constScanLine(y), picture.width())) {
            if (sinceClear == 100) {
                codes.put(kClear, kWidth);
                sinceClear = 0;
            }
            codes.put(index, kWidth);
            ++sinceClear;
        }
    codes.put(kEnd, kWidth);
    return bytes + codes.subBlocks() + char(0x3B);
}

namespace {

// Numbers in the byte order of a TIFF-style header.
struct OrderedWriter {
    bool bigEndian;
    QByteArray bytes;

    void put(quint32 value, int size) {
        for (int i = 0; i < size; ++i) {
            const int shift = 8 * (bigEndian ? size - 1 - i : i);
            bytes.append(char(value >> shift & 0xFF));
        }
    }
    void mark() { bytes.append(bigEndian ? QByteArray("MM\0*", 4) : QByteArray("II*\0", 4)); }
};

} // namespace

QByteArray segment(char marker, const QByteArray &payload) {
    const int length = int(payload.size()) + 2;
    return QByteArray("\xFF", 1) + marker + char(length >> 8) + char(length & 0xFF) + payload;
}

QByteArray withSegment(const QByteArray &jpeg, const QByteArray &segmentBytes) {
    return jpeg.left(2) + segmentBytes + jpeg.mid(2);
}

QByteArray jpegWithScans(int scans) {
    const QByteArray bytes = jpegBytes(smoothPicture({64, 48}), true);
    const qsizetype lastScan = bytes.lastIndexOf("\xFF\xDA");
    const QByteArray scan = bytes.mid(lastScan, bytes.size() - 2 - lastScan);
    return bytes.left(bytes.size() - 2) + scan.repeated(scans - int(bytes.count("\xFF\xDA"))) +
           bytes.right(2);
}

QByteArray jpegWithOrientation(const QImage &picture, int orientation) {
    OrderedWriter tiff{false, {}};
    tiff.mark();
    tiff.put(8, 4);           // the first IFD follows the header
    tiff.put(1, 2);           // one entry:
    tiff.put(0x0112, 2);      // Orientation
    tiff.put(3, 2);           // SHORT
    tiff.put(1, 4);           // one of them
    tiff.put(orientation, 2); // the value, padded to four bytes
    tiff.put(0, 2);
    tiff.put(0, 4); // no next IFD
    return withSegment(jpegBytes(picture), segment('\xE1', QByteArray("Exif\0\0", 6) + tiff.bytes));
}

QByteArray mpoBytes(const QList<QByteArray> &jpegs, bool bigEndian, MpoDamage damage) {
    const auto count = quint32(jpegs.size());
    constexpr quint32 ifdOffset = 8;
    constexpr quint32 ifdSize = 2 + 3 * 12 + 4;
    const quint32 entriesOffset = ifdOffset + ifdSize;
    // Without the last entry's last field, which no reader needs.
    const int unwritten = damage == MpoDamage::EndsAtLastOffset ? 4 : 0;
    const int segmentSize = 4 + 4 + int(entriesOffset) + 16 * int(count) - unwritten;
    // The MP header starts after SOI, the marker, the length and "MPF\0".
    constexpr quint32 headerInFile = 2 + 4 + 4;
    const quint32 firstSize = quint32(jpegs.front().size() + segmentSize);

    OrderedWriter mp{bigEndian, {}};
    mp.mark();
    mp.put(ifdOffset, 4);
    mp.put(3, 2);
    mp.put(0xB000, 2); // version
    mp.put(7, 2);
    mp.put(4, 4);
    mp.bytes.append("0100");
    mp.put(0xB001, 2); // number of images
    mp.put(4, 2);
    mp.put(1, 4);
    mp.put(count, 4);
    mp.put(0xB002, 2); // the entries
    mp.put(7, 2);
    mp.put(16 * count, 4);
    mp.put(entriesOffset, 4);
    mp.put(0, 4);
    quint32 position = firstSize;
    for (quint32 image = 0; image < count; ++image) {
        const auto size = quint32(jpegs[image].size()) + (image == 0 ? segmentSize : 0);
        quint32 offset = image == 0 ? 0 : position - headerInFile;
        if (image == 1 && damage == MpoDamage::SecondPastTheEnd)
            offset += 1'000'000;
        mp.put(image == 0 ? 0x20030000 : 0x00020002, 4); // primary; disparity image
        mp.put(size, 4);
        mp.put(offset, 4);
        mp.put(0, 4);
        if (image > 0)
            position += size;
    }
    QByteArray payload = QByteArray("MPF\0", 4) + mp.bytes;
    if (damage == MpoDamage::IndexCut)
        payload.chop(16 * count);
    payload.chop(unwritten);
    QByteArray file = withSegment(jpegs.front(), segment('\xE2', payload));
    for (qsizetype image = 1; image < jpegs.size(); ++image)
        file += jpegs[image];
    return file;
}

QByteArray jpegBytes(const QImage &picture, bool progressive) {
    QBuffer buffer;
    QImageWriter writer(&buffer, "JPEG");
    writer.setQuality(95);
    writer.setProgressiveScanWrite(progressive);
    writer.write(picture);
    return buffer.data();
}

QByteArray jpegDeclaring(QSize size, bool progressive) {
    QByteArray bytes = jpegBytes(smoothPicture({64, 48}), progressive);
    const qsizetype frame = bytes.indexOf(progressive ? "\xFF\xC2" : "\xFF\xC0");
    bytes[frame + 5] = char(size.height() >> 8);
    bytes[frame + 6] = char(size.height() & 0xFF);
    bytes[frame + 7] = char(size.width() >> 8);
    bytes[frame + 8] = char(size.width() & 0xFF);
    return bytes;
}

QByteArray scanStoppedEarly(const QByteArray &jpeg, double kept) {
    return jpeg.left(qsizetype(double(jpeg.size()) * kept)) + "\xFF\xD9";
}

QByteArray pngBytes(const QImage &picture) {
    QBuffer buffer;
    picture.save(&buffer, "PNG");
    return buffer.data();
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QString makeFile(const QString &folder, const QString &name, const QByteArray &bytes) {
    const QString path = QDir(folder).filePath(name);
    if (!writeFile(path, bytes))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int largestChannelDifference(const QImage &a, const QImage &b) {
    if (a.size() != b.size())
        return 256;
    int largest = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            largest = std::max({largest, std::abs(qRed(p) - qRed(q)),
                                std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
        }
    return largest;
}

QList<BadInput> makeBadInputs(const QString &folder) {
    const QDir dir(folder);
    const QImage picture = patternPicture({120, 90}, 8);
    const QByteArray bmp = bmpBytes(picture, BmpLayout::Rgb24);
    const QByteArray rle = bmpBytes(picture, BmpLayout::Rle8);
    const QByteArray gif = gifBytes(picture);
    const QByteArray jpeg = jpegBytes(smoothPicture({640, 480}));
    const QByteArray progressive = jpegBytes(smoothPicture({640, 480}), true);
    const int bmpRow = 120 * 3 + 0; // 360 bytes, already a multiple of four

    QList<BadInput> inputs;
    auto file = [&](const char *row, const char *name, const QByteArray &bytes, const char *why) {
        inputs << BadInput{QString::fromLatin1(row),
                           makeFile(folder, QString::fromLatin1(name), bytes),
                           QString::fromLatin1(why)};
    };
    file("zero bytes", "empty.bmp", {}, "empty");
    file("text named .jpg", "notes.jpg", "These are notes, not a picture.\n",
         "not a BMP, JPEG or GIF");
    file("PNG named .bmp", "png.bmp", pngBytes(picture), "not a BMP, JPEG or GIF");
    // Qt reads these through its image formats plugins; only the command-line tool accepts them.
    const auto encoded = [&](const char *format) {
        QBuffer buffer;
        picture.save(&buffer, format);
        return buffer.data();
    };
    file("TIFF, for the tool only", "photo.tif", encoded("TIFF"), "not a BMP, JPEG or GIF");
    file("WebP, for the tool only", "photo.webp", encoded("WEBP"), "not a BMP, JPEG or GIF");
    file("BMP cut inside its header", "header.bmp", bmp.left(30), "header");
    file("BMP cut in the middle of a row", "midrow.bmp", bmp.left(54 + 40 * bmpRow + 100),
         "truncated");
    file("BMP cut at the end of a row", "rowend.bmp", bmp.left(54 + 40 * bmpRow), "truncated");
    file("BMP with its header only", "nodata.bmp", bmp.left(54), "cannot be decoded");
    file("RLE BMP cut short", "rle.bmp", rle.left(rle.size() / 2), "truncated");
    file("GIF cut short", "cut.gif", gif.left(gif.size() / 2), "truncated");
    file("JPEG cut short", "cut.jpg", jpeg.left(jpeg.size() / 2), "truncated");
    file("progressive JPEG cut short", "cutp.jpg", progressive.left(progressive.size() * 9 / 10),
         "truncated");
    file("BMP declaring 12000 x 9000 pixels", "huge.bmp", bmpHeaderDeclaring({12000, 9000}),
         "too large");
    // Qt refuses these itself.
    file("BMP declaring 2^31 - 1 pixels square", "huger.bmp",
         bmpHeaderDeclaring({0x7FFFFFFF, 0x7FFFFFFF}), "header");
    file("JPEG declaring 65000 x 65000 pixels", "huge.jpg", jpegDeclaring({65000, 65000}),
         "too large");
    file("JPEG whose scan stops early, then its end marker", "stopped.jpg",
         scanStoppedEarly(jpeg, 0.3), "truncated");
    file("JPEG declaring 10000 x 10000 over the scan data of 64 x 48", "claims.jpg",
         jpegDeclaring({10000, 10000}), "truncated");
    file("progressive JPEG declaring 10000 x 10000 over the scan data of 64 x 48", "claimsp.jpg",
         jpegDeclaring({10000, 10000}, true), "truncated");
    file("progressive JPEG of 5000 scans", "scans.jpg", jpegWithScans(5000), "5000 scans");
    file("progressive JPEG of 101 scans", "scans101.jpg", jpegWithScans(101), "101 scans");
    QByteArray hugeGif = gifHeader(65535, 65535) + QByteArray(768, '\0');
    hugeGif += QByteArray("\x2C\0\0\0\0\xFF\xFF\xFF\xFF\0\x08\x02\x00\x01\x00\x3B", 16);
    file("GIF declaring 65535 x 65535 pixels", "huge.gif", hugeGif, "too large");

    const QString folderPath = dir.filePath(QStringLiteral("folder.bmp"));
    dir.mkdir(QStringLiteral("folder.bmp"));
    inputs << BadInput{QStringLiteral("folder named .bmp"), folderPath, QStringLiteral("folder")};
    inputs << BadInput{QStringLiteral("missing file"), dir.filePath(QStringLiteral("missing.bmp")),
                       QStringLiteral("does not exist")};
    const QString fifo = dir.filePath(QStringLiteral("fifo.bmp"));
    if (::mkfifo(QFile::encodeName(fifo).constData(), 0600) != 0)
        qFatal("cannot make a FIFO");
    inputs << BadInput{QStringLiteral("FIFO named .bmp"), fifo,
                       QStringLiteral("not a regular file")};
    return inputs;
}

QByteArray heicBytes(const QList<QImage> &pictures, const QList<quint32> &stereoGroup) {
    heif_context *context = heif_context_alloc();
    heif_encoder *encoder = nullptr;
    heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder);
    heif_encoder_set_lossless(encoder, true);
    heif_encoder_set_parameter_string(encoder, "chroma", "444");
    for (const QImage &picture : pictures) {
        const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
        heif_image *image = nullptr;
        heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB,
                          heif_chroma_interleaved_RGB, &image);
        heif_image_add_plane(image, heif_channel_interleaved, rgb.width(), rgb.height(), 8);
        int stride = 0;
        uint8_t *plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
        for (int y = 0; y < rgb.height(); ++y)
            memcpy(plane + y * stride, rgb.constScanLine(y), size_t(rgb.width()) * 3);
        heif_context_encode_image(context, image, encoder, nullptr, nullptr);
        heif_image_release(image);
    }
    heif_encoder_release(encoder);
    QByteArray bytes;
    heif_writer writer{1, [](heif_context *, const void *data, size_t size, void *file) {
                           static_cast<QByteArray *>(file)->append(static_cast<const char *>(data),
                                                                   qsizetype(size));
                           return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
                       }};
    heif_context_write(context, &writer, &bytes);
    heif_context_free(context);
    if (stereoGroup.size() != 2)
        return bytes;
    // libheif wraps a picture in a grid item where a size needs cropping: its images' IDs are
    // read back.
    heif_context *reread = heif_context_alloc();
    heif_context_read_from_memory_without_copy(reread, bytes.constData(), size_t(bytes.size()),
                                               nullptr);
    QList<heif_item_id> ids(heif_context_get_number_of_top_level_images(reread));
    heif_context_get_list_of_top_level_image_IDs(reread, ids.data(), int(ids.size()));
    heif_context_free(reread);
    const auto idOf = [&](quint32 number) {
        return number <= quint32(ids.size()) ? ids[number - 1] : 1000 + number;
    };
    QString error;
    return duoptica::WithStereoGroup(bytes, idOf(stereoGroup[0]), idOf(stereoGroup[1]), &error);
}

namespace {

QByteArray bigEndian32(quint32 value) {
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char(value >> (24 - 8 * i));
    return bytes;
}

} // namespace

QByteArray lifBytes(const QByteArray &leftJpeg, const QByteArray &rightJpeg, qint64 rightId) {
    const QByteArray disparity = jpegBytes(QImage(8, 8, QImage::Format_Grayscale8));
    QByteArray fields = bigEndian32(6) + bigEndian32(0);
    fields += bigEndian32(1000001) + bigEndian32(quint32(disparity.size())) + disparity;
    fields += bigEndian32(1000002) + bigEndian32(quint32(rightJpeg.size())) + rightJpeg;
    const QByteArray json =
        QStringLiteral(R"({"views":[{"albedoId":%1,"disparityId":1000001,"xLocation":1.0},)"
                       R"({"albedoId":-1,"disparityId":1000001,"xLocation":0.0}]})")
            .arg(rightId)
            .toLatin1();
    fields += bigEndian32(7) + bigEndian32(quint32(json.size())) + json;
    return leftJpeg + fields + bigEndian32(quint32(fields.size() + 6)) + "\x1E\x1A";
}

QByteArray xmpEyeBytes(const QByteArray &leftJpeg, const QByteArray &rightJpeg,
                       qsizetype chunkBytes, XmpVariant variant) {
    const QByteArray depth = variant == XmpVariant::DepthPhoto ? "GDepth:Data=\"AAAA\" " : "";
    const QByteArray xmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:Description " + depth +
                           "GImage:Data=\"" + rightJpeg.toBase64() + "\"/></x:xmpmeta>";
    const quint32 declared =
        variant == XmpVariant::TooLarge ? quint32(100) << 20 : quint32(xmp.size());
    QList<QByteArray> segments;
    for (qsizetype offset = 0; offset < xmp.size(); offset += chunkBytes)
        segments << segment('\xE1', QByteArray("http://ns.adobe.com/xmp/extension/\0", 35) +
                                        QByteArray(32, 'A') + bigEndian32(declared) +
                                        bigEndian32(quint32(offset)) + xmp.mid(offset, chunkBytes));
    // Each goes right after the start: the last first, so that they end up in order.
    if (variant != XmpVariant::ChunksReversed)
        std::reverse(segments.begin(), segments.end());
    QByteArray file = leftJpeg;
    for (const QByteArray &chunk : std::as_const(segments))
        file = withSegment(file, chunk);
    return file;
}

} // namespace fixtures
