#include "heic_load.h"

#include "heif_boxes.h"

#include <QColorSpace>
#include <QFile>

#include <libheif/heif.h>

#include <cstring>
#include <memory>
#include <optional>

namespace duoptica {

namespace {

struct ContextFree {
    void operator()(heif_context *context) const { heif_context_free(context); }
};
struct HandleFree {
    void operator()(heif_image_handle *handle) const { heif_image_handle_release(handle); }
};
struct ImageFree {
    void operator()(heif_image *image) const { heif_image_release(image); }
};
using Context = std::unique_ptr<heif_context, ContextFree>;
using Handle = std::unique_ptr<heif_image_handle, HandleFree>;
using Image = std::unique_ptr<heif_image, ImageFree>;

QString libheifSays(const heif_error &error) {
    return QStringLiteral("libheif cannot decode it: %1").arg(QString::fromUtf8(error.message));
}

// The item's EXIF block as a JPEG's APP1 segment holds it: libheif gives four bytes of the TIFF
// header's offset first.
QByteArray exifOf(const heif_image_handle *handle) {
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(handle, "Exif", &id, 1) < 1)
        return {};
    const size_t size = heif_image_handle_get_metadata_size(handle, id);
    if (size < 4 || size > (size_t(1) << 26))
        return {};
    QByteArray block(qsizetype(size), Qt::Uninitialized);
    if (heif_image_handle_get_metadata(handle, id, block.data()).code != heif_error_Ok)
        return {};
    const quint32 offset = quint32(quint8(block[0])) << 24 | quint32(quint8(block[1])) << 16 |
                           quint32(quint8(block[2])) << 8 | quint32(quint8(block[3]));
    // At least a TIFF header after the offset.
    if (block.size() < 12 || offset > quint64(block.size() - 12))
        return {};
    return QByteArrayLiteral("Exif\0\0") + block.sliced(4 + offset);
}

QColorSpace colourSpaceOf(const heif_image_handle *handle) {
    const heif_color_profile_type type = heif_image_handle_get_color_profile_type(handle);
    if (type != heif_color_profile_type_prof && type != heif_color_profile_type_rICC)
        return {};
    QByteArray profile(qsizetype(heif_image_handle_get_raw_color_profile_size(handle)),
                       Qt::Uninitialized);
    if (profile.isEmpty() ||
        heif_image_handle_get_raw_color_profile(handle, profile.data()).code != heif_error_Ok)
        return {};
    return QColorSpace::fromIccProfile(profile);
}

// The image as libheif shows it: grids put together, irot and imir applied.
HeicPicture decode(heif_context *context, heif_item_id id, const LoadLimits &limits,
                   QString *error) {
    heif_image_handle *opened = nullptr;
    if (const heif_error failed = heif_context_get_image_handle(context, id, &opened);
        failed.code != heif_error_Ok) {
        *error = libheifSays(failed);
        return {};
    }
    const Handle handle(opened);
    const int width = heif_image_handle_get_width(opened);
    const int height = heif_image_handle_get_height(opened);
    if (width <= 0 || height <= 0) {
        *error = QStringLiteral("Its image %1 has no size.").arg(id);
        return {};
    }
    if (qint64(width) * height > limits.maxPixels) {
        *error =
            QStringLiteral("The picture is too large: %1 × %2 pixels, more than %3 megapixels.")
                .arg(width)
                .arg(height)
                .arg(limits.maxPixels / 1'000'000);
        return {};
    }
    const bool alpha = heif_image_handle_has_alpha_channel(opened);
    heif_image *decoded = nullptr;
    if (const heif_error failed = heif_decode_image(
            opened, &decoded, heif_colorspace_RGB,
            alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, nullptr);
        failed.code != heif_error_Ok) {
        *error = libheifSays(failed);
        return {};
    }
    const Image image(decoded);
    int stride = 0;
    const uint8_t *plane =
        heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
    const int decodedWidth = heif_image_get_width(decoded, heif_channel_interleaved);
    const int decodedHeight = heif_image_get_height(decoded, heif_channel_interleaved);
    QImage picture(decodedWidth, decodedHeight,
                   alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    if (!plane || picture.isNull() || qint64(decodedWidth) * decodedHeight > limits.maxPixels) {
        *error = QStringLiteral("Its image %1 cannot be decoded.").arg(id);
        return {};
    }
    const qsizetype rowBytes = qsizetype(decodedWidth) * (alpha ? 4 : 3);
    for (int y = 0; y < decodedHeight; ++y)
        std::memcpy(picture.scanLine(y), plane + qsizetype(y) * stride, size_t(rowBytes));
    picture.setColorSpace(colourSpaceOf(opened));
    return {std::move(picture), exifOf(opened)};
}

// The first `ster` group naming two images of the file (Nokia's files have a second for the
// thumbnails, which are no top-level images); none when there is no group.
std::optional<std::pair<heif_item_id, heif_item_id>>
stereoPair(heif_context *context, const QList<HeifGroup> &groups, QString *error) {
    std::optional<std::pair<heif_item_id, heif_item_id>> named;
    for (const HeifGroup &group : groups) {
        if (group.type != "ster")
            continue;
        if (group.entities.size() < 2) {
            *error = QStringLiteral("Its stereo group names fewer than two images.");
            return std::nullopt;
        }
        const heif_item_id left = group.entities[0];
        const heif_item_id right = group.entities[1];
        if (heif_context_is_top_level_image_ID(context, left) &&
            heif_context_is_top_level_image_ID(context, right))
            return std::pair{left, right};
        named = {left, right};
    }
    if (named)
        *error = QStringLiteral("Its stereo group names items %1 and %2, which are not both "
                                "images libheif decodes (layers of one MV-HEVC image?).")
                     .arg(named->first)
                     .arg(named->second);
    return std::nullopt;
}

} // namespace

bool IsHeicFile(const QString &fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) && IsHeifImageFile(file.read(4096));
}

HeicLoad LoadHeicPictures(const QString &fileName, const LoadLimits &limits) {
    HeicLoad load;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        load.error = file.errorString();
        return load;
    }
    if (file.size() > kMaxHeifBytes) {
        load.error =
            QStringLiteral("The HEIF file is larger than %1 MiB.").arg(kMaxHeifBytes >> 20);
        return load;
    }
    const QByteArray bytes = file.readAll();
    if (bytes.size() != file.size()) {
        load.error = QStringLiteral("The file cannot be read whole.");
        return load;
    }
    const HeifGroups groups = ReadHeifGroups(bytes);
    if (!groups.error.isEmpty()) {
        load.error = QStringLiteral("It is damaged: %1.").arg(groups.error);
        return load;
    }

    const Context context(heif_context_alloc());
    if (const heif_error failed = heif_context_read_from_memory_without_copy(
            context.get(), bytes.data(), size_t(bytes.size()), nullptr);
        failed.code != heif_error_Ok) {
        load.error = libheifSays(failed);
        return load;
    }
    const auto pair = stereoPair(context.get(), groups.groups, &load.error);
    if (!load.error.isEmpty())
        return load;
    if (!pair) {
        heif_item_id primary = 0;
        if (const heif_error failed = heif_context_get_primary_image_ID(context.get(), &primary);
            failed.code != heif_error_Ok)
            load.error = libheifSays(failed);
        else
            load.left = decode(context.get(), primary, limits, &load.error);
        return load;
    }
    load.stereo = true;
    load.left = decode(context.get(), pair->first, limits, &load.error);
    if (load.error.isEmpty())
        load.right = decode(context.get(), pair->second, limits, &load.error);
    if (load.error.isEmpty() && load.left.picture.size() != load.right.picture.size())
        load.error = QStringLiteral("Its two eyes differ in size: %1x%2 and %3x%4.")
                         .arg(load.left.picture.width())
                         .arg(load.left.picture.height())
                         .arg(load.right.picture.width())
                         .arg(load.right.picture.height());
    return load;
}

} // namespace duoptica
