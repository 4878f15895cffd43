#include "jpeg_stream.h"

#include "bmp_band_output.h"
#include "camera_exif.h"
#include "disk_sync.h"
#include "exif_orientation.h"
#include "exif_thumbnail.h"
#include "jpeg_band_reader.h"
#include "jpeg_band_writer.h"
#include "mpo_index.h"
#include "stereo_input.h"
#include "stereo_output.h"

#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QSaveFile>
#include <QtConcurrentRun>

#include <algorithm>
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

// The first bytes of an MPO read to find its index, which lies in the first image's header
// segments: each is at most 64 KiB, and cameras put the index among the first few.
constexpr qint64 kMpoHeadBytes = qint64(256) << 10;

// The readers of a job's eyes and where the eyes lie in what they decode: two files, the first
// two images of an MPO, or one picture holding both (a .jps file, side by side or one over the
// other).
struct EyeReaders {
    std::array<QByteArray, 2> mpoImages; // the two images of an MPO, which the readers read from
    QByteArray leftHead;                 // the left eye's JPEG, or its start: its EXIF and JFIF
    JpegBandReader left;
    JpegBandReader right; // unused when both eyes lie side by side in the left's rows
    bool sideBySide = false;
    bool overUnder = false; // the right reader reads the same file from its lower half on
    bool exchanged = false; // the left eye lies in the right half, or the lower half

    // The picture that holds both eyes, when one does.
    bool oneFile() const { return sideBySide || overUnder; }
};

bool openMpo(const PairJob &job, EyeReaders &eyes) {
    // Only a regular file is read: reading a FIFO would wait for a writer. A file past the
    // bound is left to the general path, which refuses it.
    QFile file(job.leftFile);
    if (!QFileInfo(job.leftFile).isFile() || !file.open(QIODevice::ReadOnly) ||
        file.size() > kMaxMpoBytes)
        return false;
    const qint64 fileSize = file.size();
    const MpoIndex index = ReadMpoIndex(file.read(kMpoHeadBytes), fileSize);
    if (index.kind != MpoIndex::Kind::Mpo || index.images.size() < 2)
        return false;
    for (int i = 0; i < 2; ++i) {
        const ByteRange range = index.images[job.swap ? 1 - i : i];
        QByteArray &image = eyes.mpoImages[std::size_t(i)];
        if (!file.seek(range.offset) || (image = file.read(range.size)).size() != range.size)
            return false;
    }
    eyes.leftHead = eyes.mpoImages[0];
    return eyes.left.openBytes(eyes.mpoImages[0]) && eyes.right.openBytes(eyes.mpoImages[1]);
}

// Whether the file starts as an MPO does, its index damaged or not.
bool startsAsMpo(const QString &fileName) {
    QFile file(fileName);
    return QFileInfo(fileName).isFile() && file.open(QIODevice::ReadOnly) &&
           ReadMpoIndex(file.read(kMpoHeadBytes), file.size()).kind != MpoIndex::Kind::NotMpo;
}

bool openEyes(const PairJob &job, EyeReaders &eyes) {
    StereoLayout layout = job.layout;
    if (layout == StereoLayout::Pair) {
        eyes.leftHead = FileHead(job.swap ? job.rightFile : job.leftFile);
        return eyes.left.open(job.swap ? job.rightFile : job.leftFile) &&
               eyes.right.open(job.swap ? job.leftFile : job.rightFile);
    }
    if (layout == StereoLayout::FromFile) {
        if (!isJpsFile(job.leftFile))
            return openMpo(job, eyes);
        layout = StereoLayout::Cross;
    }
    // An MPO cut in two would give halves of its first image: the general path decides.
    if (job.layout != StereoLayout::FromFile && startsAsMpo(job.leftFile))
        return false;
    eyes.sideBySide = layout != StereoLayout::OverUnder;
    eyes.overUnder = !eyes.sideBySide;
    eyes.exchanged = (layout == StereoLayout::Cross) != job.swap;
    eyes.leftHead = FileHead(job.leftFile);
    return eyes.left.open(job.leftFile) && (eyes.sideBySide || eyes.right.open(job.leftFile));
}

// A band of both eyes, decoded while the band before it is combined and encoded.
struct Band {
    std::vector<PackedPixel> left;
    std::vector<PackedPixel> right;
};

} // namespace

std::optional<Outcome> combineJpegStreamed(const PairJob &job, qint64 maxPixels, Threads threads) {
    // Both eyes may also be put side by side as they are, a row of each in each output row.
    const bool packsSideBySide = job.to == StereoOutput::Parallel ||
                                 job.to == StereoOutput::Cross || job.to == StereoOutput::Jps;
    if (job.align || job.windowShift || job.adjust.any() ||
        (job.to != StereoOutput::Anaglyph && !packsSideBySide) ||
        (job.format != "jpg" && job.format != "bmp"))
        return std::nullopt;
    EyeReaders eyes;
    if (!openEyes(job, eyes))
        return std::nullopt;
    JpegBandReader &left = eyes.left;
    JpegBandReader &right = eyes.right;
    // The size of an eye, and of the rows each reader gives.
    const int width = eyes.sideBySide ? left.width() / 2 : left.width();
    const int height = eyes.overUnder ? left.height() / 2 : left.height();
    const std::size_t leftRowWidth = std::size_t(left.width());
    // A JPEG output keeps the left eye's comments and colour profile, so only the left's must be
    // plain; Qt's BMP writer keeps neither.
    if (width == 0 || height == 0 || !left.isColourOrGrey() || !isShownAsStored(left) ||
        qint64(left.width()) * left.height() > maxPixels ||
        (job.format == "jpg" && left.hasCommentOrProfile()))
        return std::nullopt;
    if (!eyes.oneFile() && (!right.isColourOrGrey() || right.width() != width ||
                            right.height() != height || !isShownAsStored(right)))
        return std::nullopt;

    const bool parallel = threads == Threads::All;
    const auto decodeBoth = [&left, &right, &eyes, parallel](Band &band, int rows) {
        if (eyes.sideBySide)
            return left.readRows(band.left.data(), rows);
        if (!parallel)
            return left.readRows(band.left.data(), rows) && right.readRows(band.right.data(), rows);
        QFuture<bool> rightDone =
            QtConcurrent::run([&] { return right.readRows(band.right.data(), rows); });
        const bool leftDone = left.readRows(band.left.data(), rows);
        return rightDone.result() && leftDone;
    };
    // The lower eye starts half way down the picture.
    const auto startRight = [&] {
        return eyes.sideBySide ||
               (right.start() && (!eyes.overUnder || right.skipRows(left.height() / 2)));
    };
    if (parallel) {
        // A progressive picture is read whole here: the two at once.
        QFuture<bool> rightStarted = QtConcurrent::run(startRight);
        const bool leftStarted = left.start();
        if (!rightStarted.result() || !leftStarted)
            return std::nullopt;
    } else if (!left.start() || !startRight()) {
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
    const int outputWidth = packsSideBySide ? 2 * width : width;
    // The EXIF segment is kept at its full size, and its thumbnail filled in once every row is in.
    const QByteArray leftExif = ExifOfJpeg(eyes.leftHead);
    const QSize outputSize(outputWidth, height);
    const QByteArray exif =
        job.format == "jpg" ? ExifPlaceholder(leftExif, outputSize) : QByteArray();
    std::optional<ThumbnailAccumulator> thumbnail;
    if (!exif.isEmpty())
        thumbnail.emplace(outputSize);
    JpegBandWriter jpeg;
    std::optional<BmpBandOutput> bmp;
    if (job.format == "bmp")
        bmp.emplace(file, outputWidth, height, dotsPerMeterX, dotsPerMeterY);
    else if (!jpeg.start(file, outputWidth, height, dotsPerMeterX, dotsPerMeterY, job.jpegQuality,
                         exif, jpegFullChroma(job)))
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

    std::array<Band, 2> bands;
    for (Band &band : bands) {
        band.left.resize(leftRowWidth * kBandRows);
        band.right.resize(eyes.sideBySide ? 0 : std::size_t(width) * kBandRows);
    }
    std::vector<PackedPixel> combined(std::size_t(outputWidth) * kBandRows);
    // Row y of each eye in a band.
    const auto eyeRows = [&](const Band &band, int y) {
        const PackedPixel *first = band.left.data() + leftRowWidth * std::size_t(y);
        const PackedPixel *second =
            eyes.sideBySide ? first + width : band.right.data() + std::size_t(width) * y;
        return eyes.exchanged ? std::pair{second, first} : std::pair{first, second};
    };
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
        for (int y = 0; y < rows; ++y) {
            const auto [leftEye, rightEye] = eyeRows(band, y);
            PackedPixel *const outputRow = combined.data() + std::size_t(outputWidth) * y;
            if (!packsSideBySide) {
                combineMethodSpan(leftEye, rightEye, outputRow, std::size_t(width), job.mode);
                continue;
            }
            const bool leftFirst = job.to == StereoOutput::Parallel;
            std::copy_n(leftFirst ? leftEye : rightEye, width, outputRow);
            std::copy_n(leftFirst ? rightEye : leftEye, width, outputRow + width);
        }
        const bool written = writeBand(combined.data(), row, rows);
        if (thumbnail)
            thumbnail->addRows(combined.data(), row, rows);
        bool decoded = true;
        if (nextRow < height)
            decoded = parallel ? next.result() : decodeBoth(following, rowsFrom(nextRow));
        if (!written)
            return writeFailure(outputError());
        if (!decoded) {
            file.cancelWriting();
            return std::nullopt;
        }
        if (job.stopRequested()) {
            file.cancelWriting();
            return interrupted(job);
        }
    }
    // Qt's reader reads on to the end of the picture; a file cut short there is refused. The
    // upper eye's reader stops at its last row; the lower one's reads on past the row an odd
    // height leaves.
    const bool finished = eyes.sideBySide ? left.finish()
                          : eyes.overUnder
                              ? right.skipRows(left.height() - 2 * height) && right.finish()
                              : left.finish() && right.finish();
    if (!finished) {
        file.cancelWriting();
        return std::nullopt;
    }
    if (!bmp && !jpeg.finish())
        return writeFailure(jpeg.errorString());
    if (thumbnail) {
        // The payload starts after the start of image, the APP1 marker and its length.
        constexpr qint64 kExifPayloadAt = 6;
        const QByteArray filled = ExifWithThumbnail(leftExif, outputSize, thumbnail->thumbnail());
        if (!file.seek(kExifPayloadAt) || file.write(filled) != filled.size())
            return writeFailure(file.errorString());
    }
    if (const QString why = commitToDisk(file); !why.isEmpty())
        return cannotWrite(job.outputFile, why);
    return Outcome{};
}

} // namespace duoptica
