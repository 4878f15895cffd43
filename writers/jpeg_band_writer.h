// Encodes a picture a few rows at a time into a file, with the settings Qt's JPEG writer uses, so
// the bytes are those SavePicture writes for the same 0xffRRGGBB picture.
#pragma once

#include <cstdint>

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <memory>

namespace duoptica {

class JpegBandWriter {
public:
    JpegBandWriter();
    ~JpegBandWriter();
    JpegBandWriter(const JpegBandWriter &) = delete;
    JpegBandWriter &operator=(const JpegBandWriter &) = delete;

    // Starts a picture of width x height with Qt's resolution fields for the dots per metre;
    // quality 1 to 100, or -1 for Qt's default. A non-empty exif ("Exif\0\0" and the TIFF data)
    // goes into an APP1 segment before the JFIF one. Chroma is halved both ways as Qt's writer
    // halves it (4:2:0), or kept whole (4:4:4), which Qt's writer cannot do.
    bool start(QIODevice &output, int width, int height, int dotsPerMeterX, int dotsPerMeterY,
               int quality, const QByteArray &exif = {}, bool fullChroma = false);
    // A segment written between start() and the first rows.
    bool writeMarker(int marker, const QByteArray &payload);
    bool writeIccProfile(const QByteArray &profile);
    // Encodes the next count rows, width words each.
    bool writeRows(const std::uint32_t *rows, int count);
    bool finish();

    // Why the last call failed: the system's reason for a failed write, else the encoder's.
    QString errorString() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace duoptica
