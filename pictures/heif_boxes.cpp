#include "heif_boxes.h"

#include <QSet>

#include <array>
#include <optional>

namespace duoptica {

namespace {

struct Box {
    QByteArray type;
    qsizetype start = 0;   // of its header, within the bytes walked
    qsizetype content = 0; // after its header
    qsizetype end = 0;
    int sizeBytes = 4; // of its size field: 4, or 8 for a large box (size 1)
};

std::optional<quint64> number(QByteArrayView bytes, qsizetype at, int size) {
    if (at < 0 || size < 0 || size > 8 || at > bytes.size() - size)
        return std::nullopt;
    quint64 value = 0;
    for (int i = 0; i < size; ++i)
        value = value << 8 | quint8(bytes[at + i]);
    return value;
}

void putNumber(QByteArray &bytes, qsizetype at, int size, quint64 value) {
    for (int i = size - 1; i >= 0; --i, value >>= 8)
        bytes[at + i] = char(value & 0xFF);
}

// The boxes lying one after another in [from, to); none, with *error set, when one's size runs
// past to or is too small to hold its header.
QList<Box> boxesIn(QByteArrayView bytes, qsizetype from, qsizetype to, QString *error) {
    QList<Box> boxes;
    qsizetype at = from;
    // A box of boxes holds a handful; thousands would be a hostile file.
    constexpr qsizetype kMaxBoxes = 4096;
    while (at < to) {
        const std::optional<quint64> size32 = number(bytes, at, 4);
        if (!size32 || at + 8 > to || boxes.size() >= kMaxBoxes) {
            *error = QStringLiteral("a box is cut short");
            return {};
        }
        Box box{QByteArray(bytes.data() + at + 4, 4), at, at + 8, 0, 4};
        quint64 size = *size32;
        if (size == 1) {
            const std::optional<quint64> large = number(bytes, at + 8, 8);
            if (!large) {
                *error = QStringLiteral("a box is cut short");
                return {};
            }
            size = *large;
            box.content = at + 16;
            box.sizeBytes = 8;
        } else if (size == 0) {
            size = quint64(to - at);
        }
        if (size < quint64(box.content - at) || size > quint64(to - at)) {
            *error = QStringLiteral("the %1 box is cut short").arg(QString::fromLatin1(box.type));
            return {};
        }
        box.end = at + qsizetype(size);
        boxes.append(box);
        at = box.end;
    }
    return boxes;
}

const Box *find(const QList<Box> &boxes, const char *type) {
    for (const Box &box : boxes)
        if (box.type == type)
            return &box;
    return nullptr;
}

// The children of the top-level meta box (a full box: four bytes of version and flags first).
struct MetaBox {
    Box meta;
    QList<Box> children;
};

std::optional<MetaBox> metaBox(QByteArrayView file, QString *error) {
    const QList<Box> top = boxesIn(file, 0, file.size(), error);
    const Box *meta = find(top, "meta");
    if (!meta) {
        if (error->isEmpty())
            *error = QStringLiteral("it has no meta box");
        return std::nullopt;
    }
    if (meta->end - meta->content < 4) {
        *error = QStringLiteral("the meta box is cut short");
        return std::nullopt;
    }
    MetaBox found{*meta, boxesIn(file, meta->content + 4, meta->end, error)};
    if (!error->isEmpty())
        return std::nullopt;
    return found;
}

// One entry of an iloc box: where its numbers lie, for moving them.
struct ItemLocation {
    quint32 id = 0;
    int method = 0; // construction method: 0 file offsets, 1 idat, 2 another item
    quint64 dataReference = 0;
    qsizetype baseAt = 0;
    QList<qsizetype> extentOffsetsAt;
};

struct LocationBox {
    int offsetSize = 0;
    int baseSize = 0;
    QList<ItemLocation> items;
};

std::optional<LocationBox> readLocations(QByteArrayView file, const Box &iloc, QString *error) {
    const QByteArrayView box = file.first(iloc.end);
    qsizetype at = iloc.content;
    const auto read = [&](int size) -> std::optional<quint64> {
        const std::optional<quint64> value = number(box, at, size);
        at += size;
        return value;
    };
    const std::optional<quint64> version = read(1);
    at += 3; // flags
    const std::optional<quint64> sizes = read(1);
    const std::optional<quint64> moreSizes = read(1);
    if (!version || !sizes || !moreSizes || *version > 2) {
        *error = QStringLiteral("its item locations are cut short or of an unknown version");
        return std::nullopt;
    }
    LocationBox locations{int(*sizes >> 4), int(*moreSizes >> 4), {}};
    const int lengthSize = int(*sizes & 15);
    const int indexSize = *version >= 1 ? int(*moreSizes & 15) : 0;
    for (int size : {locations.offsetSize, lengthSize, locations.baseSize, indexSize})
        if (size != 0 && size != 4 && size != 8) {
            *error = QStringLiteral("its item locations have fields of %1 bytes").arg(size);
            return std::nullopt;
        }
    const std::optional<quint64> count = read(*version < 2 ? 2 : 4);
    if (!count || *count > quint64(box.size())) {
        *error = QStringLiteral("its item locations are cut short");
        return std::nullopt;
    }
    for (quint64 i = 0; i < *count; ++i) {
        ItemLocation item;
        const std::optional<quint64> id = read(*version < 2 ? 2 : 4);
        const std::optional<quint64> method = *version >= 1 ? read(2) : quint64(0);
        const std::optional<quint64> reference = read(2);
        item.baseAt = at;
        const std::optional<quint64> base = read(locations.baseSize);
        const std::optional<quint64> extents = read(2);
        if (!id || !method || !reference || !base || !extents) {
            *error = QStringLiteral("its item locations are cut short");
            return std::nullopt;
        }
        item.id = quint32(*id);
        item.method = int(*method & 15);
        item.dataReference = *reference;
        for (quint64 extent = 0; extent < *extents; ++extent) {
            at += indexSize;
            item.extentOffsetsAt.append(at);
            at += locations.offsetSize + lengthSize;
            if (at > box.size()) {
                *error = QStringLiteral("its item locations are cut short");
                return std::nullopt;
            }
        }
        locations.items.append(item);
    }
    return locations;
}

// Every item ID the item information box lists.
QList<quint32> itemIds(QByteArrayView file, const Box &iinf, QString *error) {
    const std::optional<quint64> version = number(file, iinf.content, 1);
    const int countSize = version == 0u ? 2 : 4;
    if (!version || !number(file, iinf.content + 4, countSize)) {
        *error = QStringLiteral("its item information is cut short");
        return {};
    }
    QList<quint32> ids;
    for (const Box &infe : boxesIn(file, iinf.content + 4 + countSize, iinf.end, error)) {
        const std::optional<quint64> entryVersion = number(file, infe.content, 1);
        if (!entryVersion || *entryVersion < 2)
            continue; // the old entries, which no HEIF image file uses
        const std::optional<quint64> id =
            number(file.first(infe.end), infe.content + 4, *entryVersion == 2 ? 2 : 4);
        if (id)
            ids.append(quint32(*id));
    }
    return ids;
}

QByteArray stereoGroupBox(quint32 groupId, quint32 left, quint32 right) {
    QByteArray box(36, '\0');
    putNumber(box, 0, 4, 36);
    box.replace(4, 4, "grpl");
    putNumber(box, 8, 4, 28);
    box.replace(12, 4, "ster");
    // Version and flags stay zero.
    putNumber(box, 20, 4, groupId);
    putNumber(box, 24, 4, 2);
    putNumber(box, 28, 4, left);
    putNumber(box, 32, 4, right);
    return box;
}

} // namespace

bool IsHeifImageFile(QByteArrayView head) {
    const std::optional<quint64> size = number(head, 0, 4);
    if (!size || *size < 16 || head.sliced(4, 4) != QByteArrayView("ftyp"))
        return false;
    static constexpr std::array kBrands{"heic", "heix", "heim", "heis", "mif1"};
    const qsizetype end =
        std::min<qsizetype>(head.size(), qsizetype(std::min<quint64>(*size, 4096)));
    for (qsizetype at = 8; at + 4 <= end; at += at == 8 ? 8 : 4) // the minor version is skipped
        for (const char *brand : kBrands)
            if (head.sliced(at, 4) == QByteArrayView(brand, 4))
                return true;
    return false;
}

HeifGroups ReadHeifGroups(QByteArrayView file) {
    HeifGroups read;
    const std::optional<MetaBox> meta = metaBox(file, &read.error);
    if (!meta)
        return read;
    const Box *grpl = find(meta->children, "grpl");
    if (!grpl)
        return read;
    for (const Box &box : boxesIn(file, grpl->content, grpl->end, &read.error)) {
        const QByteArrayView group = file.first(box.end);
        const std::optional<quint64> id = number(group, box.content + 4, 4);
        const std::optional<quint64> count = number(group, box.content + 8, 4);
        if (!id || !count || *count > quint64(box.end - box.content - 12) / 4) {
            read.error =
                QStringLiteral("its %1 group is cut short").arg(QString::fromLatin1(box.type));
            read.groups.clear();
            return read;
        }
        HeifGroup entry{box.type, quint32(*id), {}};
        for (quint64 i = 0; i < *count; ++i)
            entry.entities.append(quint32(*number(group, box.content + 12 + qsizetype(i) * 4, 4)));
        read.groups.append(entry);
    }
    return read;
}

QByteArray WithStereoGroup(QByteArrayView file, quint32 left, quint32 right, QString *error) {
    const std::optional<MetaBox> meta = metaBox(file, error);
    if (!meta)
        return {};
    const Box *iloc = find(meta->children, "iloc");
    const Box *iinf = find(meta->children, "iinf");
    if (!iloc || !iinf || find(meta->children, "grpl")) {
        *error = QStringLiteral("its meta box is not as libheif writes it");
        return {};
    }
    const std::optional<LocationBox> locations = readLocations(file, *iloc, error);
    if (!locations)
        return {};
    QList<quint32> ids = itemIds(file, *iinf, error);
    if (!error->isEmpty())
        return {};

    const qsizetype metaEnd = meta->meta.end;
    QByteArray out(file.data(), file.size());
    const QByteArray group = stereoGroupBox(0, left, right);
    const quint64 shift = quint64(group.size());
    for (const ItemLocation &item : locations->items) {
        ids.append(item.id);
        if (item.method != 0)
            continue; // in the meta box's idat, or in another item: nothing moves
        if (item.dataReference != 0) {
            *error = QStringLiteral("an item lies in another file");
            return {};
        }
        const int baseSize = locations->baseSize;
        const quint64 base = *number(file, item.baseAt, baseSize);
        // The offsets that point past the meta box move with what follows it; the base offset
        // moves instead of them where there is one.
        QList<qsizetype> moved;
        for (qsizetype at : item.extentOffsetsAt) {
            const quint64 offset = *number(file, at, locations->offsetSize);
            if (base + offset < quint64(metaEnd)) {
                *error = QStringLiteral("an item lies before its own meta box ends");
                return {};
            }
            moved.append(at);
        }
        if (baseSize > 0 && base >= quint64(metaEnd))
            moved = {item.baseAt};
        const int size =
            baseSize > 0 && base >= quint64(metaEnd) ? baseSize : locations->offsetSize;
        for (qsizetype at : std::as_const(moved)) {
            const quint64 offset = *number(file, at, size);
            if (size == 0 || (size == 4 && offset + shift > 0xFFFFFFFFu)) {
                *error = QStringLiteral("an item's offset cannot be moved");
                return {};
            }
            putNumber(out, at, size, offset + shift);
        }
    }
    quint32 groupId = std::max(left, right);
    for (quint32 id : std::as_const(ids))
        groupId = std::max(groupId, id);
    if (groupId == 0xFFFFFFFFu) {
        *error = QStringLiteral("its item IDs leave no ID for a group");
        return {};
    }
    putNumber(out, meta->meta.start + (meta->meta.sizeBytes == 8 ? 8 : 0), meta->meta.sizeBytes,
              quint64(metaEnd - meta->meta.start) + shift);
    if (meta->meta.sizeBytes == 4 && quint64(metaEnd - meta->meta.start) + shift > 0xFFFFFFFFu) {
        *error = QStringLiteral("its meta box is too large");
        return {};
    }
    out.insert(metaEnd, stereoGroupBox(groupId + 1, left, right));
    return out;
}

} // namespace duoptica
