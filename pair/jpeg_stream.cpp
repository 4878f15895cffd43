#include "jpeg_stream.h"

#include "camera_exif.h"

#include "bmp_band_output.h"
#include "exif_orientation.h"
#include "jpeg_band_reader.h"
#include "jpeg_band_writer.h"
#include "mpo_index.h"
#include "stereo_input.h"

#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QSaveFile>
#include <QtConcurrentRun>

#include <array>
#include <cerrno>
#include <vector>

namespace duoptica {

namespace {

// Rows decoded, combined and encoded at a time: enough to keep the hand-over between threads
// rare, few enough that a band of a 6000-pixel-wide picture stays under a megabyte.
constexpr int kBandRows = 32;

// As stored: Qt's reader would turn the picture for any orientation but these.
bool isShownAsStored(const JpegBandReader &reader) {
    const QByteArray exif = reader.app1Data();
    if (exif.isEmpty())
        return true;
    const int orientation = ExifOrientation(exif);
    return orientation == 0 || orientation == 1;
}

// The two readers of a job's eyes, from two files or from the first two images of an MPO.
struct EyeReaders {
    QByteArray mpo;          // the whole MPO file, which the readers read from
    QByteArrayView leftHead; // the left eye's JPEG, or its start: its EXIF and JFIF
    QByteArray leftFileHead;
    JpegBandReader left;
    JpegBandReader right;
};

bool openEyes(const PairJob &job, EyeReaders &eyes) {
    if (job.layout == StereoLayout::Pair) {
        eyes.leftFileHead = FileHead(job.swap ? job.rightFile : job.leftFile);
        eyes.leftHead = eyes.leftFileHead;
        return eyes.left.open(job.swap ? job.rightFile : job.leftFile) &&
               eyes.right.open(job.swap ? job.leftFile : job.rightFile);
    }
    if (job.layout != StereoLayout::FromFile || isJpsFile(job.leftFile))
        return false;
    // Only a regular file is read: reading a FIFO would wait for a writer.
    QFile file(job.leftFile);
    if (!QFileInfo(job.leftFile).isFile() || !file.open(QIODevice::ReadOnly))
        return false;
    eyes.mpo = file.readAll();
    const MpoIndex index = ReadMpoIndex(eyes.mpo);
    if (index.kind != MpoIndex::Kind::Mpo || index.images.size() < 2)
        return false;
    const auto image = [&](int i) {
        const ByteRange range = index.images[job.swap ? 1 - i : i];
        return QByteArrayView(eyes.mpo).sliced(range.offset, range.size);
    };
    eyes.leftHead = image(0);
    return eyes.left.openBytes(image(0)) && eyes.right.openBytes(image(1));
}

// A band of both eyes, decoded while the band before it is combined and encoded.
struct Band {
    std::vector<PackedPixel> left;
    std::vector<PackedPixel> right;
};

} // namespace

std::optional<Outcome> combineJpegStreamed(const PairJob &job, qint64 maxPixels, Threads threads) {
    const bool sideBySide = job.to == StereoOutput::Parallel || job.to == StereoOutput::Cross ||
                            job.to == StereoOutput::Jps;
    if (job.align || job.windowShift || (job.to != StereoOutput::Anaglyph && !sideBySide) ||
        (job.format != "jpg" && job.format != "bmp"))
        return std::nullopt;
    EyeReaders eyes;
    if (!openEyes(job, eyes))
        return std::nullopt;
    JpegBandReader &left = eyes.left;
    JpegBandReader &right = eyes.right;
    const int width = left.width();
    const int height = left.height();
    // A JPEG output keeps the left eye's comments and colour profile, so only the left's must be
    // plain; Qt's BMP writer keeps neither.
    if (!left.isColourOrGrey() || !right.isColourOrGrey() || right.width() != width ||
        right.height() != height || qint64(width) * height > maxPixels || !isShownAsStored(left) ||
        !isShownAsStored(right) || (job.format == "jpg" && left.hasCommentOrProfile()))
        return std::nullopt;

    const bool parallel = threads == Threads::All;
    const auto decodeBoth = [&left, &right, parallel](Band &band, int rows) {
        if (!parallel)
            return left.readRows(band.left.data(), rows) && right.readRows(band.right.data(), rows);
        QFuture<bool> rightDone =
            QtConcurrent::run([&] { return right.readRows(band.right.data(), rows); });
        const bool leftDone = left.readRows(band.left.data(), rows);
        return rightDone.result() && leftDone;
    };
    if (parallel) {
        // A progressive picture is read whole here: the two at once.
        QFuture<bool> rightStarted = QtConcurrent::run([&right] { return right.start(); });
        const bool leftStarted = left.start();
        if (!rightStarted.result() || !leftStarted)
            return std::nullopt;
    } else if (!left.start() || !right.start()) {
        return std::nullopt;
    }

    QSaveFile file(job.outputFile);
    const auto writeFailure = [&](const QString &why) {
        file.cancelWriting();
        return cannotWrite(job.outputFile, why);
    };
    if (!file.open(QIODevice::WriteOnly))
        return writeFailure(file.errorString());
    // Qt's reader gives a picture without a resolution of its own the default one of any image;
    // the camera's EXIF resolution stands in for a missing JFIF one, as on the general path.
    QImage unset(1, 1, QImage::Format_RGB32);
    ApplyCameraResolution(unset, eyes.leftHead);
    const int dotsPerMeterX = left.dotsPerMeterX(unset.dotsPerMeterX());
    const int dotsPerMeterY = left.dotsPerMeterY(unset.dotsPerMeterY());
    // Side by side, each output row is a row of each eye.
    const int outputWidth = sideBySide ? 2 * width : width;
    const QByteArray exif = job.format == "jpg"
                                ? UprightExif(ExifOfJpeg(eyes.leftHead), {outputWidth, height})
                                : QByteArray();
    JpegBandWriter jpeg;
    std::optional<BmpBandOutput> bmp;
    if (job.format == "bmp")
        bmp.emplace(file, outputWidth, height, dotsPerMeterX, dotsPerMeterY);
    else if (!jpeg.start(file, outputWidth, height, dotsPerMeterX, dotsPerMeterY, job.jpegQuality,
                         exif))
        return writeFailure(jpeg.errorString());
    const auto writeBand = [&](const PackedPixel *rows, int firstRow, int count) {
        if (!bmp)
            return jpeg.writeRows(rows, count);
        bmp->writeBand(rows, firstRow, count);
        return bmp->error() == 0;
    };
    const auto outputError = [&] {
        return bmp ? qt_error_string(bmp->error()) : jpeg.errorString();
    };

    std::vector<PackedPixel> packed(sideBySide ? std::size_t(outputWidth) * kBandRows : 0);
    const auto packBand = [&](const Band &band, int rows) {
        const bool leftFirst = job.to == StereoOutput::Parallel;
        const PackedPixel *first = leftFirst ? band.left.data() : band.right.data();
        const PackedPixel *second = leftFirst ? band.right.data() : band.left.data();
        for (std::size_t r = 0; r < std::size_t(rows); ++r) {
            PackedPixel *row = packed.data() + r * std::size_t(outputWidth);
            std::copy_n(first + r * std::size_t(width), width, row);
            std::copy_n(second + r * std::size_t(width), width, row + width);
        }
        return packed.data();
    };
    std::array<Band, 2> bands;
    for (Band &band : bands) {
        band.left.resize(std::size_t(width) * kBandRows);
        band.right.resize(std::size_t(width) * kBandRows);
    }
    const auto rowsFrom = [height](int row) { return std::min(kBandRows, height - row); };
    if (!decodeBoth(bands[0], rowsFrom(0))) {
        file.cancelWriting();
        return std::nullopt;
    }
    for (int row = 0, current = 0; row < height; row += kBandRows, current ^= 1) {
        Band &band = bands[std::size_t(current)];
        const int rows = rowsFrom(row);
        const int nextRow = row + kBandRows;
        // The next band decodes on the pool while this one is combined and encoded here.
        Band &following = bands[std::size_t(current ^ 1)];
        QFuture<bool> next;
        if (parallel && nextRow < height)
            next = QtConcurrent::run(decodeBoth, std::ref(following), rowsFrom(nextRow));
        const PackedPixel *output = band.left.data();
        if (sideBySide)
            output = packBand(band, rows);
        else
            combineMethodSpan(band.left.data(), band.right.data(), band.left.data(),
                              std::size_t(width) * std::size_t(rows), job.mode);
        const bool written = writeBand(output, row, rows);
        bool decoded = true;
        if (nextRow < height)
            decoded = parallel ? next.result() : decodeBoth(following, rowsFrom(nextRow));
        if (!written)
            return writeFailure(outputError());
        if (!decoded) {
            file.cancelWriting();
            return std::nullopt;
        }
    }
    // Qt's reader reads on to the end of the picture; a file cut short there is refused.
    if (!left.finish() || !right.finish()) {
        file.cancelWriting();
        return std::nullopt;
    }
    if (!bmp && !jpeg.finish())
        return writeFailure(jpeg.errorString());
    // On Qt 6.4 commit() does not see a failure of the last buffered write.
    errno = 0;
    if (!file.flush())
        return writeFailure(errno != 0 ? qt_error_string(errno) : file.errorString());
    if (!file.commit())
        return writeFailure(file.errorString());
    return Outcome{};
}

} // namespace duoptica
