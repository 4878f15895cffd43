#include "lossless_copy.h"

#include "camera_exif.h"
#include "exif_orientation.h"
#include "jpeg_band_reader.h"
#include "mpo_file.h"
#include "mpo_index.h"
#include "picture_file.h"
#include "stereo_input.h"

#include <QFile>
#include <QFileInfo>

namespace duoptica {

namespace {

// Whole files only: the copy holds both eyes' bytes, and an MPO of a 50-megapixel camera is
// well under this.
constexpr qint64 kMaxInputBytes = qint64(1) << 30;

QByteArray readRegularFile(const QString &fileName) {
    QFile file(fileName);
    if (!QFileInfo(fileName).isFile() || file.size() > kMaxInputBytes ||
        !file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// The JPEG without its APP2 "MPF" segments, which describe the file it came from.
QByteArray withoutMpf(QByteArrayView jpeg) {
    QByteArray copy;
    copy.reserve(jpeg.size());
    copy.append(jpeg.first(2));
    qsizetype at = 2;
    while (at + 4 <= jpeg.size() && quint8(jpeg[at]) == 0xFF && quint8(jpeg[at + 1]) != 0xDA) {
        const qsizetype length = quint8(jpeg[at + 2]) << 8 | quint8(jpeg[at + 3]);
        if (length < 2 || at + 2 + length > jpeg.size())
            break;
        const bool mpf = quint8(jpeg[at + 1]) == 0xE2 &&
                         jpeg.sliced(at + 4).startsWith(QByteArrayView("MPF\0", 4));
        if (!mpf)
            copy.append(jpeg.sliced(at, 2 + length));
        at += 2 + length;
    }
    copy.append(jpeg.sliced(at));
    return copy;
}

struct JpegEye {
    QByteArray bytes;
    int width = 0;
    int height = 0;
};

// A JPEG that Qt shows as stored; empty bytes otherwise.
JpegEye uprightJpeg(QByteArray bytes) {
    JpegBandReader reader;
    if (bytes.isEmpty() || !reader.openBytes(bytes))
        return {};
    const int orientation = reader.app1Data().isEmpty() ? 0 : ExifOrientation(reader.app1Data());
    if (orientation > 1)
        return {};
    // Every image the tool writes starts with EXIF, as a camera's do.
    return {JpegWithExifFirst(withoutMpf(bytes), {reader.width(), reader.height()}), reader.width(),
            reader.height()};
}

} // namespace

std::optional<Outcome> copyJpegsLosslessly(const PairJob &job) {
    const bool toMpo = job.to == StereoOutput::Mpo;
    const bool toJpegPair = job.to == StereoOutput::Pair && job.format == "jpg";
    if ((!toMpo && !toJpegPair) || job.align || job.windowShift)
        return std::nullopt;
    JpegEye left;
    JpegEye right;
    // The eyes keep their geometry: an MPO's convergence and baseline hold for the copy.
    MpStereoGeometry geometry;
    if (job.layout == StereoLayout::Pair) {
        left = uprightJpeg(readRegularFile(job.leftFile));
        right = uprightJpeg(readRegularFile(job.rightFile));
    } else if (job.layout == StereoLayout::FromFile && !isJpsFile(job.leftFile)) {
        const QByteArray file = readRegularFile(job.leftFile);
        const MpoIndex index = ReadMpoIndex(file);
        if (index.kind != MpoIndex::Kind::Mpo || index.images.size() < 2)
            return std::nullopt;
        const auto image = [&](int i) {
            return file.sliced(index.images[i].offset, index.images[i].size);
        };
        left = uprightJpeg(image(0));
        right = uprightJpeg(image(1));
        geometry = mpStereoGeometry(image(1));
    }
    // The general path tells what is wrong with eyes of two sizes, or with a damaged file.
    if (left.bytes.isEmpty() || right.bytes.isEmpty() || left.width != right.width ||
        left.height != right.height)
        return std::nullopt;
    if (job.swap)
        std::swap(left, right);

    QString failedFile;
    QString error;
    if (toMpo) {
        const QByteArray mpo = multiPictureFile(left.bytes, right.bytes, geometry);
        if (mpo.isEmpty())
            return std::nullopt;
        error = SaveFiles({{job.outputFile, mpo}}, &failedFile);
    } else {
        const QStringList names = outputFilesOf(job);
        error = SaveFiles({{names[0], left.bytes}, {names[1], right.bytes}}, &failedFile);
    }
    if (!error.isEmpty())
        return cannotWrite(failedFile, error);
    return Outcome();
}

} // namespace duoptica
