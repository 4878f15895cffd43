#include "jpeg_stream.h"

#include "camera_exif.h"
#include "jpeg_band_reader.h"
#include "stereo_output.h"

#include <QFile>
#include <QFuture>
#include <QtConcurrentRun>

#include <algorithm>
#include <array>
#include <vector>

namespace duoptica {

namespace {

// Rows decoded, combined and encoded at a time: enough to keep the hand-over between threads
// rare, few enough that a band of a 6000-pixel-wide picture stays under a megabyte.
constexpr int kBandRows = 32;

// The readers of a job's eyes and where the eyes lie in what they decode: two files, the first
// two images of an MPO, or one picture holding both (a .jps file, side by side or one over the
// other).
struct EyeReaders {
    std::array<QByteArray, 2> mpoImages; // the two images of an MPO, which the readers read from
    JpegBandReader left;
    JpegBandReader right; // unused when both eyes lie side by side in the left's rows
    bool sideBySide = false;
    bool overUnder = false; // the right reader reads the same file from its lower half on
    bool exchanged = false; // the left eye lies in the right half, or the lower half
};

bool openMpoImage(const PairPlan &plan, const EyeSource &eye, QByteArray &image,
                  JpegBandReader &reader) {
    QFile file(plan.inputOf(eye).file);
    const ByteRange range = *eye.mpoImage;
    return file.open(QIODevice::ReadOnly) && file.seek(range.offset) &&
           (image = file.read(range.size)).size() == range.size && reader.openBytes(image);
}

bool openEyes(const PairPlan &plan, EyeReaders &eyes) {
    if (plan.left.mpoImage)
        return openMpoImage(plan, plan.left, eyes.mpoImages[0], eyes.left) &&
               openMpoImage(plan, plan.right, eyes.mpoImages[1], eyes.right);
    const QString &leftFile = plan.inputOf(plan.left).file;
    if (!plan.oneFile)
        return eyes.left.open(leftFile) && eyes.right.open(plan.inputOf(plan.right).file);
    const EyeRegion region = plan.left.region;
    eyes.sideBySide = region == EyeRegion::LeftHalf || region == EyeRegion::RightHalf;
    eyes.overUnder = !eyes.sideBySide;
    eyes.exchanged = region == EyeRegion::RightHalf || region == EyeRegion::BottomHalf;
    return eyes.left.open(leftFile) && (eyes.sideBySide || eyes.right.open(leftFile));
}

bool packsSideBySide(StereoOutput to) {
    return to == StereoOutput::Parallel || to == StereoOutput::Cross || to == StereoOutput::Jps;
}

bool isPlainJpeg(const EyeSource &eye) {
    return eye.jpeg && eye.jpeg->colourOrGrey && eye.jpeg->upright;
}

// A band of both eyes, decoded while the band before it is combined and encoded.
struct Band {
    std::vector<PackedPixel> left;
    std::vector<PackedPixel> right;
};

// The stream of one job: both eyes decoded a band at a time, each band combined or put side by
// side into the output's rows while the pool decodes the next.
class EyeStream {
public:
    EyeStream(const PairPlan &plan, Threads threads)
        : job_(plan.job)
        , parallel_(threads == Threads::All) {
        const QSize eye = plan.jpegEyeSize(plan.left);
        width_ = eye.width();
        height_ = eye.height();
        leftHead_ = plan.left.head;
        opened_ = openEyes(plan, eyes_);
    }

    // Nothing when a decoder refuses the data, for the general path to tell why.
    std::optional<Outcome> run() {
        if (!opened_ || !start())
            return std::nullopt;
        writer_ = bandWriter(job_.settings.format, job_.outputFile, parallel_);
        if (!writer_->begin(header()))
            return cannotWrite(writer_->error());
        std::optional<Outcome> ended;
        if (!streamBands(ended)) {
            writer_->cancel();
            return ended;
        }
        if (!finishReading()) {
            writer_->cancel();
            return std::nullopt;
        }
        if (!writer_->finish())
            return cannotWrite(writer_->error());
        return Outcome{};
    }

private:
    int outputWidth() const { return packsSideBySide(job_.settings.to) ? 2 * width_ : width_; }
    std::size_t leftRowWidth() const { return std::size_t(eyes_.left.width()); }
    int rowsFrom(int row) const { return std::min(kBandRows, height_ - row); }

    bool start() {
        // The lower eye starts half way down the picture.
        const auto startRight = [this] {
            return eyes_.sideBySide ||
                   (eyes_.right.start() && (!eyes_.overUnder || eyes_.right.skipRows(height_)));
        };
        if (!parallel_)
            return eyes_.left.start() && startRight();
        // A progressive picture is read whole here: the two at once.
        QFuture<bool> rightStarted = QtConcurrent::run(startRight);
        const bool leftStarted = eyes_.left.start();
        return rightStarted.result() && leftStarted;
    }

    PictureHeader header() const {
        // Qt's reader gives a picture without a resolution of its own the default one of any
        // image; the camera's EXIF resolution stands in for a missing JFIF one, as on the
        // general path.
        QImage unset(1, 1, QImage::Format_RGB32);
        ApplyCameraResolution(unset, leftHead_);
        const bool jpeg = job_.settings.format == FileFormat::Jpeg;
        return {.width = outputWidth(),
                .height = height_,
                .dotsPerMeterX = eyes_.left.dotsPerMeterX(unset.dotsPerMeterX()),
                .dotsPerMeterY = eyes_.left.dotsPerMeterY(unset.dotsPerMeterY()),
                .quality = jpeg ? job_.settings.jpegQuality : -1,
                .exif = jpeg ? ExifOfJpeg(leftHead_) : QByteArray(),
                .fullChroma = jpeg && jpegFullChroma(job_)};
    }

    bool decodeBoth(Band &band, int rows) {
        JpegBandReader &left = eyes_.left;
        JpegBandReader &right = eyes_.right;
        if (eyes_.sideBySide)
            return left.readRows(band.left.data(), rows);
        if (!parallel_)
            return left.readRows(band.left.data(), rows) && right.readRows(band.right.data(), rows);
        QFuture<bool> rightDone =
            QtConcurrent::run([&] { return right.readRows(band.right.data(), rows); });
        const bool leftDone = left.readRows(band.left.data(), rows);
        return rightDone.result() && leftDone;
    }

    // Row y of each eye in a band.
    std::pair<const PackedPixel *, const PackedPixel *> eyeRows(const Band &band, int y) const {
        const PackedPixel *first = band.left.data() + leftRowWidth() * std::size_t(y);
        const PackedPixel *second =
            eyes_.sideBySide ? first + width_ : band.right.data() + std::size_t(width_) * y;
        return eyes_.exchanged ? std::pair{second, first} : std::pair{first, second};
    }

    void combineBand(const Band &band, int rows, PackedPixel *combined) const {
        const StereoOutput to = job_.settings.to;
        for (int y = 0; y < rows; ++y) {
            const auto [leftEye, rightEye] = eyeRows(band, y);
            PackedPixel *const outputRow = combined + std::size_t(outputWidth()) * y;
            if (!packsSideBySide(to)) {
                combineMethodSpan(leftEye, rightEye, outputRow, std::size_t(width_),
                                  job_.settings.mode);
                continue;
            }
            const bool leftFirst = to == StereoOutput::Parallel;
            std::copy_n(leftFirst ? leftEye : rightEye, width_, outputRow);
            std::copy_n(leftFirst ? rightEye : leftEye, width_, outputRow + width_);
        }
    }

    // False when the stream ends early, with *ended the outcome of a failed write or a stop, or
    // nothing for a decoder that refused the data.
    bool streamBands(std::optional<Outcome> &ended) {
        std::array<Band, 2> bands;
        for (Band &band : bands) {
            band.left.resize(leftRowWidth() * kBandRows);
            band.right.resize(eyes_.sideBySide ? 0 : std::size_t(width_) * kBandRows);
        }
        std::vector<PackedPixel> combined(std::size_t(outputWidth()) * kBandRows);
        if (!decodeBoth(bands[0], rowsFrom(0)))
            return false;
        for (int row = 0, current = 0; row < height_; row += kBandRows, current ^= 1) {
            Band &band = bands[std::size_t(current)];
            const int nextRow = row + kBandRows;
            // The next band decodes on the pool while this one is combined and encoded here.
            Band &following = bands[std::size_t(current ^ 1)];
            QFuture<bool> next;
            if (parallel_ && nextRow < height_)
                next = QtConcurrent::run([this, &following, nextRow] {
                    return decodeBoth(following, rowsFrom(nextRow));
                });
            combineBand(band, rowsFrom(row), combined.data());
            const bool written = writer_->writeRows(combined.data(), row, rowsFrom(row));
            bool decoded = true;
            if (nextRow < height_)
                decoded = parallel_ ? next.result() : decodeBoth(following, rowsFrom(nextRow));
            if (!written)
                ended = cannotWrite(writer_->error());
            else if (decoded && job_.stopRequested())
                ended = interrupted(job_);
            if (!written || !decoded || ended)
                return false;
        }
        return true;
    }

    // Qt's reader reads on to the end of the picture; a file cut short there is refused. The
    // upper eye's reader stops at its last row; the lower one's reads on past the row an odd
    // height leaves.
    bool finishReading() {
        if (eyes_.sideBySide)
            return eyes_.left.finish();
        if (eyes_.overUnder)
            return eyes_.right.skipRows(eyes_.left.height() - 2 * height_) && eyes_.right.finish();
        return eyes_.left.finish() && eyes_.right.finish();
    }

    const PairJob &job_;
    bool parallel_;
    int width_ = 0;
    int height_ = 0;
    QByteArray leftHead_;
    EyeReaders eyes_;
    bool opened_ = false;
    std::unique_ptr<PictureWriter> writer_;
};

} // namespace

bool acceptsJpegStreamed(const PairPlan &plan, QString *whyNot) {
    const PairSettings &asked = plan.job.settings;
    if (asked.align || asked.movesTheWindow() || asked.adjust.any() || asked.fit) {
        *whyNot = QStringLiteral("a stage changes the eyes");
        return false;
    }
    if ((asked.to != StereoOutput::Anaglyph && !packsSideBySide(asked.to)) ||
        (asked.format != FileFormat::Jpeg && asked.format != FileFormat::Bmp &&
         asked.format != FileFormat::Png)) {
        *whyNot = QStringLiteral("the output is no JPEG, PNG or BMP, combined or side by side");
        return false;
    }
    // An MPO cut in two would give halves of its first image: the general path tells so.
    const ProbedInput &input = plan.inputOf(plan.left);
    if (plan.oneFile && plan.job.layout != StereoLayout::FromFile &&
        input.mpo.kind != MpoIndex::Kind::NotMpo) {
        *whyNot = QStringLiteral("an MPO is cut in two");
        return false;
    }
    // A file past the bound is left to the general path, which refuses it.
    if (plan.left.mpoImage && input.size > kMaxMpoBytes) {
        *whyNot = QStringLiteral("the MPO is larger than the tool reads");
        return false;
    }
    const QSize eye = plan.jpegEyeSize(plan.left);
    // A JPEG or PNG output keeps the left eye's comments and colour profile, so only the left's
    // must be plain; Qt's BMP writer keeps neither.
    if (!isPlainJpeg(plan.left) || !isPlainJpeg(plan.right) || eye.isEmpty() ||
        plan.jpegEyeSize(plan.right) != eye ||
        qint64(plan.left.jpeg->width) * plan.left.jpeg->height > asked.maxPixels ||
        (asked.format != FileFormat::Bmp && plan.left.jpeg->commentOrProfile)) {
        *whyNot = QStringLiteral("the eyes are not plain upright JPEGs of one size");
        return false;
    }
    return true;
}

std::optional<Outcome> runJpegStreamed(const PairPlan &plan, Threads threads) {
    return EyeStream(plan, threads).run();
}

} // namespace duoptica
