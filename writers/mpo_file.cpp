#include "mpo_file.h"

#include <QtEndian>

namespace duoptica {

namespace {

// TIFF field types and the MP tags written.
constexpr quint16 kUndefined = 7;
constexpr quint16 kLong = 4;
constexpr quint16 kRational = 5;
constexpr quint16 kSignedRational = 10;
constexpr quint16 kVersionTag = 0xB000;
constexpr quint16 kNumberOfImagesTag = 0xB001;
constexpr quint16 kEntriesTag = 0xB002;
constexpr quint16 kIndividualNumberTag = 0xB101;
constexpr quint16 kBaseViewpointTag = 0xB204;
constexpr quint16 kConvergenceAngleTag = 0xB205;
constexpr quint16 kBaselineLengthTag = 0xB206;

constexpr quint32 kRepresentative = 1u << 29;
constexpr quint32 kMultiFrameDisparity = 0x020002;

constexpr int kEntryBytes = 16;
constexpr int kFieldBytes = 12;
constexpr int kHeaderBytes = 8; // byte order mark and the first IFD's offset

// The little-endian MP header and IFDs, with offsets counted from the byte order mark.
class MpWriter {
public:
    void number16(quint16 value) { append(qToLittleEndian(value)); }
    void number32(quint32 value) { append(qToLittleEndian(value)); }
    void field(quint16 tag, quint16 type, quint32 count, quint32 value) {
        number16(tag);
        number16(type);
        number32(count);
        number32(value);
    }
    void version() { field(kVersionTag, kUndefined, 4, qFromLittleEndian<quint32>("0100")); }
    qsizetype size() const { return bytes_.size(); }
    const QByteArray &bytes() const { return bytes_; }

private:
    template <typename T> void append(T value) {
        bytes_.append(reinterpret_cast<const char *>(&value), sizeof value);
    }
    QByteArray bytes_;
};

constexpr int kAttributeFields = 5;

void attributeIfd(MpWriter &mp, quint32 imageNumber, const MpStereoGeometry &geometry) {
    // The two rationals follow the IFD.
    const auto valuesAt = quint32(mp.size() + 2 + kAttributeFields * kFieldBytes + 4);
    mp.number16(kAttributeFields);
    mp.version();
    mp.field(kIndividualNumberTag, kLong, 1, imageNumber);
    mp.field(kBaseViewpointTag, kLong, 1, 1);
    mp.field(kConvergenceAngleTag, kSignedRational, 1, valuesAt);
    mp.field(kBaselineLengthTag, kRational, 1, valuesAt + 8);
    mp.number32(0); // no next IFD
    for (const quint32 value : geometry.convergenceAngle)
        mp.number32(value);
    for (const quint32 value : geometry.baselineLength)
        mp.number32(value);
}

// The payload of the APP2 segment; for the first image the second entry's size and offset are
// patched in once the file is laid out.
struct MpSegment {
    QByteArray payload;
    qsizetype secondSizeAt = -1;   // in payload
    qsizetype secondOffsetAt = -1; // in payload
    qsizetype firstSizeAt = -1;    // in payload
};

MpSegment firstImageSegment(const MpStereoGeometry &geometry) {
    constexpr int kIndexFields = 3;
    constexpr quint32 kIndexBytes = 2 + kIndexFields * kFieldBytes + 4;
    constexpr quint32 kEntriesOffset = kHeaderBytes + kIndexBytes;
    constexpr quint32 kAttributeOffset = kEntriesOffset + 2 * kEntryBytes;
    MpWriter mp;
    mp.number32(qFromLittleEndian<quint32>("II*\0"));
    mp.number32(kHeaderBytes);
    mp.number16(kIndexFields);
    mp.version();
    mp.field(kNumberOfImagesTag, kLong, 1, 2);
    mp.field(kEntriesTag, kUndefined, 2 * kEntryBytes, kEntriesOffset);
    mp.number32(kAttributeOffset);
    // Each entry: attribute, size, offset, and two dependent image numbers (none).
    const qsizetype firstEntry = mp.size();
    mp.number32(kRepresentative | kMultiFrameDisparity);
    mp.number32(0);
    mp.number32(0); // the first image starts the file
    mp.number32(0);
    mp.number32(kMultiFrameDisparity);
    mp.number32(0);
    mp.number32(0);
    mp.number32(0);
    attributeIfd(mp, 1, geometry);
    const QByteArray prefix("MPF\0", 4);
    return {prefix + mp.bytes(), prefix.size() + firstEntry + kEntryBytes + 4,
            prefix.size() + firstEntry + kEntryBytes + 8, prefix.size() + firstEntry + 4};
}

QByteArray secondImageSegment(const MpStereoGeometry &geometry) {
    MpWriter mp;
    mp.number32(qFromLittleEndian<quint32>("II*\0"));
    mp.number32(kHeaderBytes);
    attributeIfd(mp, 2, geometry);
    return QByteArray("MPF\0", 4) + mp.bytes();
}

// Where a segment may go: after the start of image and any APP0 and APP1 segments right after
// it, so that JFIF and EXIF stay first. -1 for no JPEG.
qsizetype insertionPoint(const QByteArray &jpeg) {
    if (!jpeg.startsWith("\xFF\xD8"))
        return -1;
    qsizetype at = 2;
    while (at + 4 <= jpeg.size() && quint8(jpeg[at]) == 0xFF &&
           (quint8(jpeg[at + 1]) == 0xE0 || quint8(jpeg[at + 1]) == 0xE1)) {
        const qsizetype length = quint8(jpeg[at + 2]) << 8 | quint8(jpeg[at + 3]);
        if (at + 2 + length > jpeg.size())
            return -1;
        at += 2 + length;
    }
    return at;
}

QByteArray app2(const QByteArray &payload) {
    const auto length = quint16(payload.size() + 2);
    QByteArray segment("\xFF\xE2", 2);
    segment.append(char(length >> 8)).append(char(length & 0xFF));
    return segment + payload;
}

} // namespace

QByteArray multiPictureFile(const QByteArray &leftJpeg, const QByteArray &rightJpeg,
                            const MpStereoGeometry &geometry) {
    const qsizetype leftAt = insertionPoint(leftJpeg);
    const qsizetype rightAt = insertionPoint(rightJpeg);
    if (leftAt < 0 || rightAt < 0)
        return {};
    MpSegment first = firstImageSegment(geometry);
    const QByteArray firstSegment = app2(first.payload);
    QByteArray second = rightJpeg;
    second.insert(rightAt, app2(secondImageSegment(geometry)));
    const qsizetype firstSize = leftJpeg.size() + firstSegment.size();
    // The second image's offset is counted from the first image's MP header (after "MPF\0").
    const qsizetype headerAt = leftAt + 4 + 4;
    const auto patch = [&](qsizetype at, qsizetype value) {
        qToLittleEndian(quint32(value), first.payload.data() + at);
    };
    patch(first.firstSizeAt, firstSize);
    patch(first.secondSizeAt, second.size());
    patch(first.secondOffsetAt, firstSize - headerAt);
    QByteArray file;
    file.reserve(firstSize + second.size());
    file.append(leftJpeg.constData(), leftAt);
    file.append(app2(first.payload));
    file.append(leftJpeg.constData() + leftAt, leftJpeg.size() - leftAt);
    file.append(second);
    return file;
}

MpStereoGeometry mpStereoGeometry(QByteArrayView jpeg) {
    MpStereoGeometry geometry;
    // The APP2 "MPF" segment among the header segments.
    QByteArrayView mp;
    for (qsizetype at = 2; mp.isEmpty() && at + 4 <= jpeg.size() && quint8(jpeg[at]) == 0xFF &&
                           quint8(jpeg[at + 1]) != 0xDA;) {
        const qsizetype length = quint8(jpeg[at + 2]) << 8 | quint8(jpeg[at + 3]);
        if (length < 2 || at + 2 + length > jpeg.size())
            break;
        const QByteArrayView payload = jpeg.sliced(at + 4, length - 2);
        if (quint8(jpeg[at + 1]) == 0xE2 && payload.startsWith(QByteArrayView("MPF\0", 4)))
            mp = payload.sliced(4);
        at += 2 + length;
    }
    if (mp.size() < kHeaderBytes || (!mp.startsWith("II*\0") && !mp.startsWith("MM\0*")))
        return geometry;
    const bool little = mp[0] == 'I';
    const auto number = [&](qsizetype at, int bytes) -> quint32 {
        if (at < 0 || at + bytes > mp.size())
            return 0;
        quint32 value = 0;
        for (int i = 0; i < bytes; ++i)
            value |= quint32(quint8(mp[at + (little ? i : bytes - 1 - i)])) << (8 * i);
        return value;
    };
    // The first image's first IFD is the index; its attribute IFD comes next.
    qsizetype ifd = number(4, 4);
    for (int step = 0; step < 2 && ifd > 0; ++step) {
        const int count = int(number(ifd, 2));
        bool isIndex = false;
        for (int i = 0; i < count; ++i) {
            const qsizetype field = ifd + 2 + qsizetype(i) * kFieldBytes;
            const quint32 tag = number(field, 2);
            const quint32 type = number(field + 2, 2);
            const quint32 valueAt = number(field + 8, 4);
            isIndex = isIndex || tag == kNumberOfImagesTag;
            std::array<quint32, 2> *target =
                tag == kConvergenceAngleTag && type == kSignedRational ? &geometry.convergenceAngle
                : tag == kBaselineLengthTag && type == kRational       ? &geometry.baselineLength
                                                                       : nullptr;
            if (target && number(field + 4, 4) == 1 && qsizetype(valueAt) + 8 <= mp.size())
                *target = {number(valueAt, 4), number(valueAt + 4, 4)};
        }
        if (!isIndex)
            break;
        ifd = number(ifd + 2 + qsizetype(count) * kFieldBytes, 4);
    }
    return geometry;
}

} // namespace duoptica
