#include "embedded_eyes.h"

#include "jpeg_markers.h"
#include "mpo_index.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>

#include <optional>

namespace duoptica {

namespace {

std::optional<quint32> bigEndian32(QByteArrayView bytes, qsizetype at) {
    if (at < 0 || at > bytes.size() - 4)
        return std::nullopt;
    return quint32(quint8(bytes[at])) << 24 | quint32(quint8(bytes[at + 1])) << 16 |
           quint32(quint8(bytes[at + 2])) << 8 | quint32(quint8(bytes[at + 3]));
}

EmbeddedEyes refused(EmbeddedEyes::Kind kind, const QString &why) {
    return {kind, {}, {}, why};
}

// --- Extended XMP ---------------------------------------------------------------------------

constexpr QByteArrayView kExtensionSignature("http://ns.adobe.com/xmp/extension/\0", 35);
constexpr qsizetype kGuidBytes = 32;

// The extended XMP of the first GUID its APP1 segments name, put together from their chunks;
// nothing without one, an error when its chunks do not tile it in order.
std::optional<QByteArray> extendedXmp(const QByteArray &file, QString *error) {
    QByteArray guid;
    QByteArray xmp;
    quint32 fullLength = 0;
    qsizetype at = 2;
    while (at + 4 <= file.size() && quint8(file[at]) == 0xFF) {
        const quint8 marker = quint8(file[at + 1]);
        if (marker == 0xDA || marker == 0xD9)
            break;
        const qsizetype length = (qsizetype(quint8(file[at + 2])) << 8) | quint8(file[at + 3]);
        if (length < 2 || at + 2 + length > file.size())
            break;
        const QByteArrayView payload(file.constData() + at + 4, length - 2);
        at += 2 + length;
        if (marker != 0xE1 || !payload.startsWith(kExtensionSignature) ||
            payload.size() < kExtensionSignature.size() + kGuidBytes + 8)
            continue;
        const QByteArrayView chunkGuid = payload.sliced(kExtensionSignature.size(), kGuidBytes);
        if (guid.isEmpty())
            guid = chunkGuid.toByteArray();
        else if (chunkGuid != guid)
            continue;
        const qsizetype header = kExtensionSignature.size() + kGuidBytes;
        const quint32 length32 = *bigEndian32(payload, header);
        const quint32 offset = *bigEndian32(payload, header + 4);
        if (xmp.isEmpty())
            fullLength = length32;
        if (length32 != fullLength || fullLength > quint32(kMaxExtendedXmpBytes)) {
            *error = QStringLiteral("Its extended XMP is larger than %1 MiB or changes its size.")
                         .arg(kMaxExtendedXmpBytes >> 20);
            return QByteArray();
        }
        if (offset != quint32(xmp.size())) {
            *error = QStringLiteral("Its extended XMP's chunks are out of order.");
            return QByteArray();
        }
        const QByteArrayView data = payload.sliced(header + 8);
        if (quint64(xmp.size()) + quint64(data.size()) > fullLength) {
            *error = QStringLiteral("Its extended XMP's chunks overrun its size.");
            return QByteArray();
        }
        xmp.append(data);
    }
    if (guid.isEmpty())
        return std::nullopt;
    if (quint32(xmp.size()) != fullLength)
        *error = QStringLiteral("Its extended XMP is cut short.");
    return xmp;
}

// The base64 value of the property, as an attribute (name="...") or an element.
std::optional<QByteArray> xmpValue(const QByteArray &xmp, const QByteArray &name) {
    qsizetype start = xmp.indexOf(name + "=\"");
    qsizetype end = -1;
    if (start >= 0) {
        start += name.size() + 2;
        end = xmp.indexOf('"', start);
    } else if ((start = xmp.indexOf('<' + name + '>')) >= 0) {
        start += name.size() + 2;
        end = xmp.indexOf("</" + name, start);
    }
    if (start < 0 || end < 0)
        return std::nullopt;
    return xmp.sliced(start, end - start);
}

std::optional<EmbeddedEyes> xmpEyes(const QByteArray &file) {
    QString error;
    const std::optional<QByteArray> xmp = extendedXmp(file, &error);
    if (!error.isEmpty())
        return refused(EmbeddedEyes::Kind::ExtendedXmp, error);
    if (!xmp)
        return std::nullopt;
    // A depth photo (Google's lens blur) keeps its picture before the blur in GImage:Data, the
    // same view as the file's: no second eye.
    const bool depthPhoto = xmp->contains("GDepth:Data");
    for (const QByteArray &name : {QByteArray("GImage:Data"), QByteArray("LImage:RightAlbedo")}) {
        if (depthPhoto && name.startsWith("GImage"))
            continue;
        const std::optional<QByteArray> value = xmpValue(*xmp, name);
        if (!value)
            continue;
        QByteArray encoded = value->simplified();
        encoded.replace(' ', "");
        const QByteArray::FromBase64Result right =
            QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
        if (!right || !right.decoded.startsWith("\xFF\xD8"))
            return refused(
                EmbeddedEyes::Kind::ExtendedXmp,
                QStringLiteral("Its XMP %1 is no base64 JPEG.").arg(QString::fromLatin1(name)));
        return EmbeddedEyes{EmbeddedEyes::Kind::ExtendedXmp, file, right.decoded, {}};
    }
    return std::nullopt;
}

// --- Leia LIF ---------------------------------------------------------------------------------

// The file ends in the JSON block (type 7, its size, the JSON), the length of the part after the
// first JPEG, and the bytes 1E 1A.
constexpr quint32 kJsonBlock = 7;
constexpr qsizetype kTrailerBytes = 6;

// The JPEG of the view's image: -1 is the first, the file's own; another number names a block of
// the number, its size and the JPEG, after the first.
std::optional<QByteArray> lifImage(const QByteArray &file, qsizetype fieldsStart, qint64 id) {
    if (id == -1)
        return file.first(fieldsStart);
    if (id < 0 || id > 0xFFFFFFFFll)
        return std::nullopt;
    QByteArray tag(4, '\0');
    for (int i = 0; i < 4; ++i)
        tag[i] = char(quint32(id) >> (24 - 8 * i));
    for (qsizetype at = file.indexOf(tag, fieldsStart); at >= 0; at = file.indexOf(tag, at + 1)) {
        const std::optional<quint32> size = bigEndian32(file, at + 4);
        if (size && qint64(*size) <= file.size() - at - 8 && *size >= 2 &&
            file.sliced(at + 8, 2) == "\xFF\xD8")
            return file.sliced(at + 8, *size);
    }
    return std::nullopt;
}

std::optional<EmbeddedEyes> lifEyes(const QByteArray &file) {
    const qsizetype size = file.size();
    if (size < kTrailerBytes + 8 || !file.endsWith("\x1E\x1A"))
        return std::nullopt;
    const quint32 after = *bigEndian32(file, size - kTrailerBytes);
    const qsizetype fieldsStart = size - qsizetype(after);
    const qsizetype jsonEnd = size - kTrailerBytes;
    // The JSON block's header: found backwards as the one whose size reaches the trailer.
    qsizetype jsonStart = -1;
    for (qsizetype at = jsonEnd - 8; at >= std::max<qsizetype>(fieldsStart, jsonEnd - (1 << 20));
         --at)
        if (bigEndian32(file, at) == kJsonBlock &&
            bigEndian32(file, at + 4) == quint32(jsonEnd - at - 8)) {
            jsonStart = at + 8;
            break;
        }
    if (after > quint32(size) || fieldsStart < 4 || jsonStart < 0)
        return std::nullopt;
    const auto lif = EmbeddedEyes::Kind::Lif;
    const QJsonArray views = QJsonDocument::fromJson(file.sliced(jsonStart, jsonEnd - jsonStart))
                                 .object()
                                 .value(QLatin1StringView("views"))
                                 .toArray();
    if (views.size() < 2)
        return refused(lif, QStringLiteral("Its LIF trailer lists fewer than two views."));
    QJsonObject leftmost = views[0].toObject();
    QJsonObject rightmost = leftmost;
    for (const QJsonValue &view : views) {
        const QJsonObject object = view.toObject();
        const double x = object.value(QLatin1StringView("xLocation")).toDouble();
        if (x < leftmost.value(QLatin1StringView("xLocation")).toDouble())
            leftmost = object;
        if (x > rightmost.value(QLatin1StringView("xLocation")).toDouble())
            rightmost = object;
    }
    if (leftmost == rightmost)
        return refused(lif, QStringLiteral("Its LIF views all stand at one place."));
    EmbeddedEyes eyes{lif, {}, {}, {}};
    for (const auto &[view, jpeg] : {std::pair{&leftmost, &eyes.left}, {&rightmost, &eyes.right}}) {
        const QJsonValue id = view->value(QLatin1StringView("albedoId"));
        const std::optional<QByteArray> image =
            lifImage(file, fieldsStart, qint64(id.toDouble(-2)));
        if (!image)
            return refused(lif, QStringLiteral("Its LIF trailer names image %1, which it does "
                                               "not hold.")
                                    .arg(qint64(id.toDouble(-2))));
        *jpeg = *image;
    }
    return eyes;
}

// --- Two JPEGs joined ---------------------------------------------------------------------

// The byte after the end-of-image marker of the JPEG the bytes start with; nothing when they
// end before it.
std::optional<qsizetype> endOfFirstJpeg(QByteArrayView bytes) {
    JpegScanCounter walk;
    walk.feed(bytes);
    return walk.reachedEnd() ? std::optional(qsizetype(walk.consumed())) : std::nullopt;
}

QSize declaredSize(const QByteArray &jpeg) {
    QBuffer buffer;
    buffer.setData(jpeg);
    return QImageReader(&buffer, "jpeg").size();
}

// Where the padding (zero bytes and line ends) that joining tools leave after a JPEG ends.
qsizetype pastPadding(QByteArrayView bytes, qsizetype at) {
    constexpr qsizetype kMostPadding = 64;
    const qsizetype limit = std::min(bytes.size(), at + kMostPadding);
    while (at < limit && (bytes[at] == '\0' || bytes[at] == '\n' || bytes[at] == '\r'))
        ++at;
    return at;
}

std::optional<EmbeddedEyes> joinedEyes(const QByteArray &file) {
    const std::optional<qsizetype> firstEnd = endOfFirstJpeg(file);
    if (!firstEnd)
        return std::nullopt;
    const QByteArray second = file.sliced(pastPadding(file, *firstEnd));
    const std::optional<qsizetype> secondEnd = endOfFirstJpeg(second);
    if (!second.startsWith("\xFF\xD8") || !secondEnd ||
        pastPadding(second, *secondEnd) != second.size())
        return std::nullopt;
    const QByteArray first = file.first(*firstEnd);
    // A photo with its preview after it is one picture.
    const QSize size = declaredSize(first);
    if (size.isEmpty() || declaredSize(second) != size)
        return std::nullopt;
    return EmbeddedEyes{EmbeddedEyes::Kind::Joined, first, second, {}};
}

} // namespace

EmbeddedEyes FindEmbeddedEyes(const QByteArray &file) {
    if (!file.startsWith("\xFF\xD8"))
        return {};
    if (std::optional<EmbeddedEyes> eyes = xmpEyes(file))
        return *eyes;
    if (std::optional<EmbeddedEyes> eyes = lifEyes(file))
        return *eyes;
    if (std::optional<EmbeddedEyes> eyes = joinedEyes(file))
        return *eyes;
    return {};
}

bool HidesEmbeddedEyes(const QString &fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxMpoBytes || file.read(2) != "\xFF\xD8")
        return false;
    if (file.seek(file.size() - 2) && file.read(2) == "\x1E\x1A" && file.seek(0))
        return FindEmbeddedEyes(file.readAll()).kind != EmbeddedEyes::Kind::None;
    // The APP1 segments (where XMP lies) up to the picture's data, the others skipped.
    QByteArray segments("\xFF\xD8", 2);
    file.seek(2);
    for (;;) {
        const QByteArray marker = file.read(4);
        if (marker.size() < 4 || quint8(marker[0]) != 0xFF || quint8(marker[1]) == 0xDA ||
            quint8(marker[1]) == 0xD9)
            break;
        const qint64 payload = ((qint64(quint8(marker[2])) << 8) | quint8(marker[3])) - 2;
        if (payload < 0 || segments.size() > kMaxExtendedXmpBytes + (qsizetype(1) << 20))
            break;
        if (quint8(marker[1]) != 0xE1) {
            if (!file.seek(file.pos() + payload))
                break;
            continue;
        }
        segments += marker + file.read(payload);
    }
    return FindEmbeddedEyes(segments).kind != EmbeddedEyes::Kind::None;
}

} // namespace duoptica
