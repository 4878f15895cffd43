#include "input_probe.h"

#include "exif_orientation.h"
#include "jpeg_band_reader.h"

#include <QFile>
#include <QFileInfo>

namespace duoptica {

namespace {

// Header segments are at most 64 KiB each, and cameras put a handful before the first scan: the
// EXIF with its thumbnail, the MPO index, a colour profile.
constexpr qint64 kHeadBytes = qint64(256) << 10;

} // namespace

std::optional<JpegHeader> readJpegHeader(QByteArrayView bytes) {
    JpegBandReader reader;
    if (bytes.isEmpty() || !reader.openBytes(bytes))
        return std::nullopt;
    const QByteArray exif = reader.app1Data();
    const int orientation = exif.isEmpty() ? 0 : ExifOrientation(exif);
    return JpegHeader{.width = reader.width(),
                      .height = reader.height(),
                      .colourOrGrey = reader.isColourOrGrey(),
                      .upright = orientation == 0 || orientation == 1,
                      .commentOrProfile = reader.hasCommentOrProfile()};
}

QByteArray readImageHead(const QString &file, ByteRange range) {
    QFile input(file);
    if (!input.open(QIODevice::ReadOnly) || !input.seek(range.offset))
        return {};
    return input.read(std::min<qint64>(range.size, kHeadBytes));
}

ProbedInput probeInput(const QString &file) {
    ProbedInput input;
    input.file = file;
    QFile opened(file);
    input.regular = QFileInfo(file).isFile();
    if (!input.regular || !opened.open(QIODevice::ReadOnly))
        return input;
    input.size = opened.size();
    input.head = opened.read(kHeadBytes);
    input.mpo = ReadMpoIndex(input.head, input.size);
    input.jpeg = readJpegHeader(input.head);
    return input;
}

} // namespace duoptica
