#include "wiggle_animation.h"

#include <gif_lib.h>
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

} // namespace

QByteArray wiggleGif(const QImage &left, const QImage &right, int frameMs, QString *error) {
    const int width = left.width();
    const int height = left.height();
    // Both frames quantised as one picture, one above the other, into one palette, so the colours
    // do not flicker. Qt keeps up to 256 colours exactly; a photograph is dithered (Floyd and
    // Steinberg) onto its colour cube, which giflib's median cut, stopping at a few dozen colours
    // on smooth gradients, does worse than.
    QImage both(width, 2 * height, QImage::Format_RGB32);
    if (both.isNull()) {
        *error = QStringLiteral("not enough memory for the animation");
        return {};
    }
    for (int y = 0; y < height; ++y) {
        std::copy_n(left.constScanLine(y), 4 * width, both.scanLine(y));
        std::copy_n(right.constScanLine(y), 4 * width, both.scanLine(height + y));
    }
    const QImage indexed = both.convertToFormat(QImage::Format_Indexed8, Qt::DiffuseDither);
    if (indexed.isNull()) {
        *error = QStringLiteral("not enough memory for the animation");
        return {};
    }
    std::vector<GifColorType> colours(256, GifColorType{0, 0, 0});
    const QList<QRgb> table = indexed.colorTable();
    for (qsizetype i = 0; i < std::min<qsizetype>(table.size(), 256); ++i)
        colours[std::size_t(i)] = {GifByteType(qRed(table[i])), GifByteType(qGreen(table[i])),
                                   GifByteType(qBlue(table[i]))};

    QByteArray bytes;
    int code = 0;
    GifFileType *gif = EGifOpen(&bytes, writeToBuffer, &code);
    if (!gif) {
        *error = gifError(code);
        return {};
    }
    const std::unique_ptr<ColorMapObject, void (*)(ColorMapObject *)> palette(
        GifMakeMapObject(256, colours.data()), GifFreeMapObject);
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
            written = EGifPutLine(
                          gif, const_cast<GifByteType *>(indexed.constScanLine(frame * height + y)),
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
