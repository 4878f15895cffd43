#include "wiggle_animation.h"

#include <gif_lib.h>
#include <libimagequant.h>
#include <omp.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace duoptica {

namespace {

int writeToBuffer(GifFileType *gif, const GifByteType *bytes, int size) {
    static_cast<QByteArray *>(gif->UserData)->append(reinterpret_cast<const char *>(bytes), size);
    return size;
}

QString gifError(int code) {
    const char *text = GifErrorString(code);
    return text ? QString::fromLatin1(text) : QStringLiteral("the GIF encoder failed");
}

// Both frames in one palette of up to 256 colours, chosen by libimagequant and the frames
// remapped onto it with the dithering it advises; the indices of the left frame's rows, then the
// right's. Empty when the quantiser fails.
struct SharedPalette {
    std::vector<GifColorType> colours;
    std::vector<GifByteType> indices;
};

// Both frames' colours when there are 256 or fewer, each kept exactly, as GIF can, undithered;
// false as soon as a 257th turns up, which in a photograph is within its first rows.
bool exactPalette(const QImage &left, const QImage &right, SharedPalette &shared) {
    std::vector<QRgb> colours; // sorted
    const auto indexOf = [&colours](QRgb colour) {
        return std::lower_bound(colours.begin(), colours.end(), colour) - colours.begin();
    };
    for (const QImage *eye : {&left, &right})
        for (int y = 0; y < eye->height(); ++y) {
            const auto *row = reinterpret_cast<const QRgb *>(eye->constScanLine(y));
            for (int x = 0; x < eye->width(); ++x) {
                const auto at = colours.begin() + indexOf(row[x]);
                if (at != colours.end() && *at == row[x])
                    continue;
                if (colours.size() == 256)
                    return false;
                colours.insert(at, row[x]);
            }
        }
    const std::size_t width = std::size_t(left.width());
    shared.indices.resize(width * 2 * std::size_t(left.height()));
    GifByteType *out = shared.indices.data();
    for (const QImage *eye : {&left, &right})
        for (int y = 0; y < eye->height(); ++y, out += width) {
            const auto *row = reinterpret_cast<const QRgb *>(eye->constScanLine(y));
            for (std::size_t x = 0; x < width; ++x)
                out[x] = GifByteType(indexOf(row[x]));
        }
    for (const QRgb colour : colours)
        shared.colours.push_back(
            {GifByteType(qRed(colour)), GifByteType(qGreen(colour)), GifByteType(qBlue(colour))});
    return true;
}

SharedPalette quantiseTogether(const QImage &left, const QImage &right, QString *error) {
    const int width = left.width();
    const int height = left.height();
    if (SharedPalette exact; exactPalette(left, right, exact))
        return exact;
    // libimagequant's OpenMP threads spin between its short parallel loops: on a sized pair
    // they burn more than half again its time for no gain in wall time on two cores, and far
    // more on a busy machine; a batch keeps every core busy with a pair of its own anyway. Set
    // for this thread alone.
    omp_set_num_threads(1);
    // libimagequant reads bytes R, G, B, A.
    const QImage eyes[] = {left.convertToFormat(QImage::Format_RGBX8888),
                           right.convertToFormat(QImage::Format_RGBX8888)};
    SharedPalette shared;
    if (eyes[0].isNull() || eyes[1].isNull()) {
        *error = QStringLiteral("not enough memory for the animation");
        return {};
    }
    shared.indices.resize(std::size_t(width) * 2 * std::size_t(height));
    // The two frames as one picture, the right eye's rows under the left's: one quantisation and
    // one remapping give one palette, which a remapping of each frame on its own would refine
    // apart, and the colours would flicker.
    std::vector<void *> rows(2 * std::size_t(height));
    std::vector<unsigned char *> output(rows.size());
    for (std::size_t y = 0; y < rows.size(); ++y) {
        const QImage &eye = eyes[y < std::size_t(height) ? 0 : 1];
        rows[y] = const_cast<uchar *>(eye.constScanLine(int(y % std::size_t(height))));
        output[y] = shared.indices.data() + y * std::size_t(width);
    }
    const std::unique_ptr<liq_attr, void (*)(liq_attr *)> attributes(liq_attr_create(),
                                                                     liq_attr_destroy);
    if (!attributes) {
        *error = QStringLiteral("the colour quantiser cannot start");
        return {};
    }
    // Speed 9: no k-means refinement nor feedback loop, and a smaller histogram of colours with
    // their lowest bit dropped. On a sized 24 MP pair that is a third of the default's time and
    // 30 MB less memory, for 1 dB less than the default gives (still 1.5 dB above ImageMagick's
    // GIF); a picture of few colours keeps them exactly without it.
    if (liq_set_speed(attributes.get(), 9) != LIQ_OK) {
        *error = QStringLiteral("the colour quantiser cannot start");
        return {};
    }
    const std::unique_ptr<liq_image, void (*)(liq_image *)> image(
        liq_image_create_rgba_rows(attributes.get(), rows.data(), width, 2 * height, 0),
        liq_image_destroy);
    liq_result *quantised = nullptr;
    if (!image || liq_image_quantize(image.get(), attributes.get(), &quantised) != LIQ_OK) {
        *error = QStringLiteral("the colour quantiser failed");
        return {};
    }
    const std::unique_ptr<liq_result, void (*)(liq_result *)> result(quantised, liq_result_destroy);
    liq_set_dithering_level(result.get(), 1.0f);
    if (liq_write_remapped_image_rows(result.get(), image.get(), output.data()) != LIQ_OK) {
        *error = QStringLiteral("the colour quantiser failed");
        return {};
    }
    // Read after the remapping, which makes the palette's last refinement.
    const liq_palette *palette = liq_get_palette(result.get());
    for (unsigned i = 0; i < palette->count; ++i)
        shared.colours.push_back(
            {palette->entries[i].r, palette->entries[i].g, palette->entries[i].b});
    return shared;
}

} // namespace

QByteArray wiggleGif(const QImage &left, const QImage &right, int frameMs, QString *error) {
    const int width = left.width();
    const int height = left.height();
    SharedPalette shared = quantiseTogether(left, right, error);
    if (shared.colours.empty())
        return {};
    // GIF's colour tables hold a power of two colours.
    shared.colours.resize(std::size_t(1) << GifBitSize(int(shared.colours.size())),
                          GifColorType{0, 0, 0});

    QByteArray bytes;
    int code = 0;
    GifFileType *gif = EGifOpen(&bytes, writeToBuffer, &code);
    if (!gif) {
        *error = gifError(code);
        return {};
    }
    const std::unique_ptr<ColorMapObject, void (*)(ColorMapObject *)> palette(
        GifMakeMapObject(int(shared.colours.size()), shared.colours.data()), GifFreeMapObject);
    bool written = palette && EGifPutScreenDesc(gif, width, height, 8, 0, palette.get()) == GIF_OK;
    // The NETSCAPE2.0 block: loop forever.
    static const GifByteType kLoop[] = {1, 0, 0};
    written = written && EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
              EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0") == GIF_OK &&
              EGifPutExtensionBlock(gif, 3, kLoop) == GIF_OK &&
              EGifPutExtensionTrailer(gif) == GIF_OK;
    GraphicsControlBlock control{DISPOSE_DO_NOT, false, (frameMs + 5) / 10, NO_TRANSPARENT_COLOR};
    GifByteType extension[4];
    const std::size_t extensionSize = EGifGCBToExtension(&control, extension);
    for (int frame = 0; frame < 2 && written; ++frame) {
        written = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(extensionSize), extension) ==
                      GIF_OK &&
                  EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr) == GIF_OK;
        for (int y = 0; y < height && written; ++y)
            written =
                EGifPutLine(gif, shared.indices.data() + (std::size_t(frame) * height + y) * width,
                            width) == GIF_OK;
    }
    const int failure = gif->Error;
    if (EGifCloseFile(gif, &code) == GIF_ERROR || !written) {
        *error = gifError(written ? code : failure);
        return {};
    }
    return bytes;
}

QByteArray wiggleWebp(const QImage &left, const QImage &right, int frameMs, int quality,
                      QString *error) {
    WebPAnimEncoderOptions options;
    WebPConfig config;
    if (!WebPAnimEncoderOptionsInit(&options) || !WebPConfigInit(&config)) {
        *error = QStringLiteral("libwebp is not the version it was built with");
        return {};
    }
    config.quality = float(quality);
    const std::unique_ptr<WebPAnimEncoder, void (*)(WebPAnimEncoder *)> encoder(
        WebPAnimEncoderNew(left.width(), left.height(), &options), WebPAnimEncoderDelete);
    bool added = encoder != nullptr;
    int timestamp = 0;
    for (const QImage *eye : {&left, &right}) {
        WebPPicture picture;
        if (!added || !WebPPictureInit(&picture))
            break;
        picture.use_argb = 1;
        picture.width = eye->width();
        picture.height = eye->height();
        // 0xffRRGGBB words lie in memory as B, G, R, X.
        added = WebPPictureImportBGRX(&picture, eye->constBits(), int(eye->bytesPerLine())) &&
                WebPAnimEncoderAdd(encoder.get(), &picture, timestamp, &config);
        WebPPictureFree(&picture);
        timestamp += frameMs;
    }
    WebPData data;
    WebPDataInit(&data);
    if (!added || !WebPAnimEncoderAdd(encoder.get(), nullptr, timestamp, nullptr) ||
        !WebPAnimEncoderAssemble(encoder.get(), &data)) {
        const char *why = encoder ? WebPAnimEncoderGetError(encoder.get()) : nullptr;
        *error = why && *why ? QString::fromLatin1(why) : QStringLiteral("the WebP encoder failed");
        WebPDataClear(&data);
        return {};
    }
    QByteArray bytes(reinterpret_cast<const char *>(data.bytes), qsizetype(data.size));
    WebPDataClear(&data);
    return bytes;
}

} // namespace duoptica
