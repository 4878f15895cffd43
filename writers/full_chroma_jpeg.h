// JPEG pictures with chroma at full resolution (4:4:4), which Qt's writer cannot write: encoded by
// JpegBandWriter with Qt's other settings, so that a picture encoded whole here and one streamed
// a band at a time give the same bytes.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace duoptica {

// Qt's writer turns these into a one-component grey JPEG, where chroma sampling means nothing.
bool IsGreyForJpeg(const QImage &picture);

// The picture as a 4:4:4 JPEG with its resolution, its text as Qt's writer keeps it (a COM
// segment "key: value" a key) and its ICC profile; quality 1 to 100, or -1 for Qt's default.
// Empty, with the reason in *error, when it cannot be encoded.
QByteArray EncodeFullChromaJpeg(const QImage &picture, int quality, QString *error);

} // namespace duoptica
