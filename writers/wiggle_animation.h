// Wiggle animations: the two eyes shown in turn, for the web, as an animated GIF (written by
// giflib, one palette for both frames, chosen by libimagequant, so the colours do not flicker)
// or an animated WebP (libwebp's animation encoder).
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace duoptica {

// Both eyes the same size, 0xffRRGGBB words; each frame shows for frameMs, looping forever.
// Empty, with the reason in *error, when the encoder fails. GIF counts time in hundredths of a
// second, so its frame time is rounded to those.
QByteArray wiggleGif(const QImage &left, const QImage &right, int frameMs, QString *error);
// quality 1 to 100, as for JPEG.
QByteArray wiggleWebp(const QImage &left, const QImage &right, int frameMs, int quality,
                      QString *error);

} // namespace duoptica
