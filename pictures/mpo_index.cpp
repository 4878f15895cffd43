#include "mpo_index.h"

#include "decoder_input.h"

#include <QCoreApplication>

#include <future>
#include <optional>

namespace duoptica {

namespace {

QString reason(const char *text) {
    return QCoreApplication::translate("PictureFile", text);
}

constexpr quint16 kNumberOfImagesTag = 0xB001;
constexpr quint16 kEntriesTag = 0xB002;
constexpr qsizetype kEntryBytes = 16;

// Reads the multi-byte numbers of one MP header in its byte order, with every read bounds-checked
// against the segment that holds it.
class MpHeader {
public:
    MpHeader(QByteArrayView segment, bool bigEndian)
        : segment_(segment)
        , bigEndian_(bigEndian) {}

    std::optional<quint32> number(qsizetype offset, int bytes) const {
        if (offset < 0 || offset > segment_.size() - bytes)
            return std::nullopt;
        quint32 value = 0;
        for (int i = 0; i < bytes; ++i) {
            const auto byte = quint32(quint8(segment_[offset + (bigEndian_ ? i : bytes - 1 - i)]));
            value = value << 8 | byte;
        }
        return value;
    }

private:
    QByteArrayView segment_;
    bool bigEndian_;
};

MpoIndex damaged(const char *why) {
    return {MpoIndex::Kind::Damaged, {}, reason(why)};
}

// header: the MP header, from its byte order mark to the end of the APP2 segment; headerOffset:
// where it lies in the file, which every image offset but the first's is counted from.
MpoIndex readIndex(QByteArrayView header, qsizetype headerOffset, qsizetype fileSize) {
    const QByteArrayView mark = header.first(std::min<qsizetype>(4, header.size()));
    if (mark != QByteArrayView("MM\0*", 4) && mark != QByteArrayView("II*\0", 4))
        return damaged("Its multi-picture index has no valid byte order mark.");
    const MpHeader read(header, mark[0] == 'M');

    const std::optional<quint32> ifdOffset = read.number(4, 4);
    const std::optional<quint32> tagCount = ifdOffset ? read.number(*ifdOffset, 2) : std::nullopt;
    if (!tagCount)
        return damaged("Its multi-picture index lies outside the file.");
    std::optional<quint32> declaredImages;
    std::optional<quint32> entriesBytes;
    std::optional<quint32> entriesOffset;
    for (quint32 tag = 0; tag < *tagCount; ++tag) {
        const qsizetype at = qsizetype(*ifdOffset) + 2 + qsizetype(tag) * 12;
        const std::optional<quint32> id = read.number(at, 2);
        const std::optional<quint32> count = read.number(at + 4, 4);
        const std::optional<quint32> value = read.number(at + 8, 4);
        if (!id || !count || !value)
            return damaged("Its multi-picture index is cut short.");
        if (*id == kNumberOfImagesTag)
            declaredImages = value;
        else if (*id == kEntriesTag) {
            entriesBytes = count;
            entriesOffset = value;
        }
    }
    if (!declaredImages || !entriesBytes)
        return damaged("Its multi-picture index lists no images.");
    if (qint64(*entriesBytes) < qint64(*declaredImages) * kEntryBytes)
        return damaged("Its multi-picture index holds fewer entries than images.");

    MpoIndex index{MpoIndex::Kind::Mpo, {}, {}};
    for (quint32 image = 0; image < *declaredImages; ++image) {
        const qsizetype at = qsizetype(*entriesOffset) + qsizetype(image) * kEntryBytes;
        const std::optional<quint32> size = read.number(at + 4, 4);
        const std::optional<quint32> offset = read.number(at + 8, 4);
        if (!size || !offset)
            return damaged("Its multi-picture index is cut short.");
        // The first image starts the file; the others are counted from the MP header.
        const qint64 start = image == 0 ? 0 : qint64(headerOffset) + *offset;
        if (*size == 0 || start + qint64(*size) > fileSize)
            return damaged("An image of its multi-picture index lies outside the file.");
        index.images.append({qsizetype(start), qsizetype(*size)});
    }
    return index;
}

} // namespace

MpoIndex ReadMpoIndex(QByteArrayView file) {
    return ReadMpoIndex(file, file.size());
}

MpoIndex ReadMpoIndex(QByteArrayView file, qint64 fileSize) {
    if (!file.startsWith(QByteArrayView("\xFF\xD8", 2)))
        return {};
    qsizetype at = 2;
    // Up to the first scan, a JPEG is a run of segments: FF, a marker, a two-byte length that
    // counts itself, then the payload.
    while (at + 4 <= file.size()) {
        if (quint8(file[at]) != 0xFF)
            return {};
        const quint8 marker = quint8(file[at + 1]);
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)
            return {};
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) { // no length
            at += 2;
            continue;
        }
        const qsizetype length = quint8(file[at + 2]) << 8 | quint8(file[at + 3]);
        if (length < 2 || at + 2 + length > file.size())
            return {};
        const QByteArrayView payload = file.sliced(at + 4, length - 2);
        if (marker == 0xE2 && payload.startsWith(QByteArrayView("MPF\0", 4)))
            return readIndex(payload.sliced(4), at + 8, fileSize);
        at += 2 + length;
    }
    return {};
}

bool IsMpoFile(const QString &fileName) {
    DecoderInput input;
    if (!input.openFile(fileName).isEmpty() || input.size() > kMaxMpoBytes ||
        input.peek(2) != QByteArrayLiteral("\xFF\xD8"))
        return false;
    return ReadMpoIndex(input.readAll()).kind != MpoIndex::Kind::NotMpo;
}

StereoPictureLoad LoadMpoPictures(const QString &fileName, const LoadLimits &limits,
                                  bool bothAtOnce) {
    StereoPictureLoad load;
    DecoderInput input;
    if (QString refusal = input.openFile(fileName); !refusal.isEmpty()) {
        load.error = refusal;
        return load;
    }
    if (input.size() > kMaxMpoBytes) {
        load.error = reason("The file is larger than %1 MiB.").arg(kMaxMpoBytes >> 20);
        return load;
    }
    const QByteArray bytes = input.readAll();
    const MpoIndex index = ReadMpoIndex(bytes);
    load.isMpo = index.kind != MpoIndex::Kind::NotMpo;
    if (index.kind == MpoIndex::Kind::Damaged) {
        load.error = index.error;
    } else if (index.kind == MpoIndex::Kind::Mpo && index.images.size() < 2) {
        load.error = index.images.isEmpty()
                         ? reason("Its multi-picture index lists no images.")
                         : reason("It holds only one image, not the two of a stereo pair.");
    } else if (index.kind == MpoIndex::Kind::Mpo) {
        const auto decode = [&](const ByteRange &range) {
            return LoadPictureBytes(
                QByteArray::fromRawData(bytes.constData() + range.offset, range.size), limits);
        };
        // Decoding is most of the work for large pictures.
        std::future<PictureLoad> right = std::async(
            bothAtOnce ? std::launch::async : std::launch::deferred, decode, index.images[1]);
        load.left = decode(index.images[0]);
        load.right = right.get();
        // Enough for any image's header segments.
        constexpr qsizetype kHeadBytes = 256 * 1024;
        load.leftHead =
            bytes.sliced(index.images[0].offset, std::min(kHeadBytes, index.images[0].size));
        load.rightHead =
            bytes.sliced(index.images[1].offset, std::min(kHeadBytes, index.images[1].size));
        if (!load.left.error.isEmpty())
            load.error = reason("Its first image: %1").arg(load.left.error);
        else if (!load.right.error.isEmpty())
            load.error = reason("Its second image: %1").arg(load.right.error);
    }
    return load;
}

} // namespace duoptica
