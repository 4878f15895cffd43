#include "jpeg_stream.h"

#include "area_shrink.h"
#include "camera_exif.h"
#include "jpeg_band_reader.h"
#include "picture_file.h"
#include "resize_stage.h"
#include "stereo_output.h"

#include <QFile>
#include <QFuture>
#include <QtConcurrentRun>

#include <algorithm>
#include <array>
#include <vector>

namespace duoptica {

namespace {

// Source rows decoded, combined and encoded at a time: enough to keep the hand-over between
// threads rare, few enough that a band of a 6000-pixel-wide picture stays under a megabyte.
constexpr int kBandRows = 32;

bool packsSideBySide(StereoOutput to) {
    return to == StereoOutput::Parallel || to == StereoOutput::Cross || to == StereoOutput::Jps;
}

bool isPlainJpeg(const EyeSource &eye) {
    return eye.jpeg && eye.jpeg->colourOrGrey && eye.jpeg->upright;
}

// The sizes an eye goes through: as decoded (smaller, where libjpeg reduces it as the general
// path's loader does) and as the output shows it, shrunk by area from the decoded rows.
struct EyeGeometry {
    int denominator = 1;
    QSize decoded;
    QSize shown;
};

EyeGeometry eyeGeometry(const PairPlan &plan) {
    const QSize eye = plan.jpegEyeSize(plan.left);
    const std::optional<EyeSize> &size = plan.job.settings.adjust.size;
    if (!size)
        return {1, eye, eye};
    const QSize target = sizedEye(eye, *size);
    // The general path decodes a picture holding both eyes whole before cutting it in two.
    const int denominator = plan.oneFile ? 1 : JpegReductionFor(eye, target);
    return {denominator, {eye.width() / denominator, eye.height() / denominator}, target};
}

// Where an eye's rows lie: in which reader's rows, from which column.
struct EyeCut {
    int reader = 0;
    int column = 0;
};

// The readers of a job's eyes and where the eyes lie in what they decode: two files, the first
// two images of an MPO, or one picture holding both (a .jps file, side by side or one over the
// other), read once for both eyes or, for an output that shows one eye after the other, once for
// each.
struct EyeReaders {
    std::array<QByteArray, 2> mpoImages; // the two images of an MPO, which the readers read from
    std::array<JpegBandReader, 2> readers;
    int count = 2;              // 1 when both eyes lie side by side in the first reader's rows
    bool lowerHalf = false;     // the second reader reads the same file from its lower half on
    std::array<EyeCut, 2> eyes; // the left eye's and the right's
};

bool openMpoImage(const PairPlan &plan, const EyeSource &eye, QByteArray &image,
                  JpegBandReader &reader) {
    QFile file(plan.inputOf(eye).file);
    const ByteRange range = *eye.mpoImage;
    return file.open(QIODevice::ReadOnly) && file.seek(range.offset) &&
           (image = file.read(range.size)).size() == range.size && reader.openBytes(image);
}

bool openOneFile(const PairPlan &plan, bool eachEyeAlone, EyeReaders &eyes) {
    const EyeRegion region = plan.left.region;
    const bool sideBySide = region == EyeRegion::LeftHalf || region == EyeRegion::RightHalf;
    const bool exchanged = region == EyeRegion::RightHalf || region == EyeRegion::BottomHalf;
    const int second = exchanged ? 0 : 1; // which half the right eye lies in
    if (sideBySide) {
        eyes.count = eachEyeAlone ? 2 : 1;
        const int width = plan.jpegEyeSize(plan.left).width();
        eyes.eyes = {EyeCut{0, (1 - second) * width}, EyeCut{eyes.count - 1, second * width}};
    } else {
        eyes.lowerHalf = true;
        eyes.eyes = {EyeCut{1 - second, 0}, EyeCut{second, 0}};
    }
    const QString &file = plan.inputOf(plan.left).file;
    return eyes.readers[0].open(file) && (eyes.count == 1 || eyes.readers[1].open(file));
}

bool openEyes(const PairPlan &plan, bool eachEyeAlone, EyeReaders &eyes) {
    eyes.eyes = {EyeCut{0, 0}, EyeCut{1, 0}};
    if (plan.left.mpoImage)
        return openMpoImage(plan, plan.left, eyes.mpoImages[0], eyes.readers[0]) &&
               openMpoImage(plan, plan.right, eyes.mpoImages[1], eyes.readers[1]);
    if (!plan.oneFile)
        return eyes.readers[0].open(plan.inputOf(plan.left).file) &&
               eyes.readers[1].open(plan.inputOf(plan.right).file);
    return openOneFile(plan, eachEyeAlone, eyes);
}

// Rows of one eye in a band: count rows, stride words apart.
struct EyeRows {
    const PackedPixel *first = nullptr;
    std::size_t stride = 0;
    int count = 0;

    const PackedPixel *row(int y) const { return first + stride * std::size_t(y); }
};

// A band: rows decoded by each reader, each eye's rows within them or shrunk from them.
struct Band {
    std::array<std::vector<PackedPixel>, 2> decoded;
    std::array<std::vector<PackedPixel>, 2> shrunk;
    std::array<EyeRows, 2> eyes;
};

// Which eyes a band holds, from which source row: both at once, for an output that combines or
// packs them side by side; or one eye's rows after the other's, for one over the other.
struct BandStep {
    std::array<bool, 2> eyes;
    int row;
};

// The stream of one job: the eyes decoded (and shrunk) a band at a time, each band combined or
// packed into the output's rows and encoded while the pool decodes the next.
class EyeStream {
public:
    EyeStream(const PairPlan &plan, Threads threads)
        : job_(plan.job)
        , parallel_(threads == Threads::All)
        , oneAfterOther_(plan.job.settings.to == StereoOutput::OverUnder)
        , geometry_(eyeGeometry(plan))
        , leftHead_(plan.left.head) {
        opened_ = openEyes(plan, oneAfterOther_, eyes_);
        if (geometry_.shown != geometry_.decoded)
            for (auto &shrink : shrinks_)
                shrink.emplace(geometry_.decoded.width(), geometry_.decoded.height(),
                               geometry_.shown.width(), geometry_.shown.height());
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
    int eyeWidth() const { return geometry_.shown.width(); }
    int outputWidth() const {
        return packsSideBySide(job_.settings.to) ? 2 * eyeWidth() : eyeWidth();
    }
    int outputHeight() const { return (oneAfterOther_ ? 2 : 1) * geometry_.shown.height(); }
    std::size_t readerWidth(int reader) const {
        return std::size_t(eyes_.readers[std::size_t(reader)].scaledWidth());
    }
    int bandsPerEye() const { return (geometry_.decoded.height() + kBandRows - 1) / kBandRows; }
    int stepCount() const { return (oneAfterOther_ ? 2 : 1) * bandsPerEye(); }

    BandStep step(int index) const {
        if (!oneAfterOther_)
            return {{true, true}, index * kBandRows};
        const bool right = index >= bandsPerEye();
        return {{!right, right}, (index % bandsPerEye()) * kBandRows};
    }

    bool start() {
        for (int i = 0; i < eyes_.count; ++i)
            eyes_.readers[std::size_t(i)].setScaleDenominator(geometry_.denominator);
        // The lower eye starts half way down the picture.
        const auto startSecond = [this] {
            JpegBandReader &second = eyes_.readers[1];
            return eyes_.count == 1 ||
                   (second.start() &&
                    (!eyes_.lowerHalf || second.skipRows(geometry_.decoded.height())));
        };
        if (!parallel_)
            return eyes_.readers[0].start() && startSecond();
        // A progressive picture is read whole here: the two at once.
        QFuture<bool> secondStarted = QtConcurrent::run(startSecond);
        const bool firstStarted = eyes_.readers[0].start();
        return secondStarted.result() && firstStarted;
    }

    PictureHeader header() const {
        // Qt's reader gives a picture without a resolution of its own the default one of any
        // image; the camera's EXIF resolution stands in for a missing JFIF one, as on the
        // general path.
        QImage unset(1, 1, QImage::Format_RGB32);
        ApplyCameraResolution(unset, leftHead_);
        const JpegBandReader &first = eyes_.readers[0];
        const bool jpeg = job_.settings.format == FileFormat::Jpeg;
        return {.width = outputWidth(),
                .height = outputHeight(),
                .dotsPerMeterX = first.dotsPerMeterX(unset.dotsPerMeterX()),
                .dotsPerMeterY = first.dotsPerMeterY(unset.dotsPerMeterY()),
                .quality = jpeg ? job_.settings.jpegQuality : -1,
                .exif = jpeg ? ExifOfJpeg(leftHead_) : QByteArray(),
                .fullChroma = jpeg && jpegFullChroma(job_)};
    }

    // The reader's next rows, and the rows of the eyes asked for that lie in them.
    bool decodeReader(Band &band, int reader, int rows, std::array<bool, 2> wanted) {
        std::vector<PackedPixel> &decoded = band.decoded[std::size_t(reader)];
        if (!eyes_.readers[std::size_t(reader)].readRows(decoded.data(), rows))
            return false;
        for (std::size_t eye = 0; eye < 2; ++eye) {
            const EyeCut cut = eyes_.eyes[eye];
            if (!wanted[eye] || cut.reader != reader)
                continue;
            const EyeRows inDecoded{decoded.data() + cut.column, readerWidth(reader), rows};
            if (!shrinks_[eye]) {
                band.eyes[eye] = inDecoded;
                continue;
            }
            const int count = shrinks_[eye]->addRows(inDecoded.first, inDecoded.stride, rows,
                                                     band.shrunk[eye].data());
            band.eyes[eye] = {band.shrunk[eye].data(), std::size_t(eyeWidth()), count};
        }
        return true;
    }

    bool decodeStep(Band &band, BandStep at) {
        const int rows = std::min(kBandRows, geometry_.decoded.height() - at.row);
        // The readers the eyes asked for lie in: one, or two decoding at once.
        std::array<bool, 2> readers{};
        for (std::size_t eye = 0; eye < 2; ++eye)
            if (at.eyes[eye])
                readers[std::size_t(eyes_.eyes[eye].reader)] = true;
        if (!readers[0] || !readers[1])
            return decodeReader(band, readers[0] ? 0 : 1, rows, at.eyes);
        if (!parallel_)
            return decodeReader(band, 0, rows, at.eyes) && decodeReader(band, 1, rows, at.eyes);
        QFuture<bool> secondDone =
            QtConcurrent::run([&] { return decodeReader(band, 1, rows, at.eyes); });
        const bool firstDone = decodeReader(band, 0, rows, at.eyes);
        return secondDone.result() && firstDone;
    }

    // The output's rows of a band; how many.
    int outputRows(const Band &band, BandStep at, PackedPixel *output) const {
        const StereoOutput to = job_.settings.to;
        const std::size_t width = std::size_t(eyeWidth());
        if (oneAfterOther_) {
            const EyeRows &eye = band.eyes[at.eyes[0] ? 0 : 1];
            for (int y = 0; y < eye.count; ++y)
                std::copy_n(eye.row(y), width, output + width * std::size_t(y));
            return eye.count;
        }
        const auto &[left, right] = band.eyes;
        for (int y = 0; y < left.count; ++y) {
            PackedPixel *const row = output + std::size_t(outputWidth()) * std::size_t(y);
            if (!packsSideBySide(to)) {
                combineMethodSpan(left.row(y), right.row(y), row, width, job_.settings.mode);
                continue;
            }
            const bool leftFirst = to == StereoOutput::Parallel;
            std::copy_n((leftFirst ? left : right).row(y), width, row);
            std::copy_n((leftFirst ? right : left).row(y), width, row + width);
        }
        return left.count;
    }

    void allocate(std::array<Band, 2> &bands, std::vector<PackedPixel> &output) const {
        const std::size_t shrunkRows = std::size_t(AreaShrink::maxRowsFor(kBandRows));
        for (Band &band : bands)
            for (std::size_t i = 0; i < 2; ++i) {
                if (int(i) < eyes_.count)
                    band.decoded[i].resize(readerWidth(int(i)) * kBandRows);
                if (shrinks_[i])
                    band.shrunk[i].resize(std::size_t(eyeWidth()) * shrunkRows);
            }
        output.resize(std::size_t(outputWidth()) * shrunkRows);
    }

    // False when the stream ends early, with *ended the outcome of a failed write or a stop, or
    // nothing for a decoder that refused the data.
    bool streamBands(std::optional<Outcome> &ended) {
        std::array<Band, 2> bands;
        std::vector<PackedPixel> output;
        allocate(bands, output);
        if (!decodeStep(bands[0], step(0)))
            return false;
        for (int index = 0, current = 0, row = 0; index < stepCount(); ++index, current ^= 1) {
            Band &band = bands[std::size_t(current)];
            const bool last = index + 1 == stepCount();
            // The next band decodes on the pool while this one is combined and encoded here.
            Band &following = bands[std::size_t(current ^ 1)];
            QFuture<bool> next;
            if (parallel_ && !last)
                next = QtConcurrent::run(
                    [this, &following, at = step(index + 1)] { return decodeStep(following, at); });
            const int rows = outputRows(band, step(index), output.data());
            const bool written = rows == 0 || writer_->writeRows(output.data(), row, rows);
            row += rows;
            bool decoded = true;
            if (!last)
                decoded = parallel_ ? next.result() : decodeStep(following, step(index + 1));
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
        JpegBandReader &first = eyes_.readers[0];
        JpegBandReader &second = eyes_.readers[1];
        if (eyes_.count == 1)
            return first.finish();
        if (eyes_.lowerHalf)
            return second.skipRows(first.height() - 2 * geometry_.decoded.height()) &&
                   second.finish();
        return first.finish() && second.finish();
    }

    const PairJob &job_;
    bool parallel_;
    bool oneAfterOther_;
    EyeGeometry geometry_;
    QByteArray leftHead_;
    EyeReaders eyes_;
    std::array<std::optional<AreaShrink>, 2> shrinks_;
    bool opened_ = false;
    std::unique_ptr<PictureWriter> writer_;
};

// Whether the job's output is one the stream writes: combined, side by side or one over the
// other, as JPEG, PNG or BMP.
bool streamsOutput(const PairSettings &asked) {
    return (asked.to == StereoOutput::Anaglyph || packsSideBySide(asked.to) ||
            asked.to == StereoOutput::OverUnder) &&
           (asked.format == FileFormat::Jpeg || asked.format == FileFormat::Bmp ||
            asked.format == FileFormat::Png);
}

} // namespace

bool acceptsJpegStreamed(const PairPlan &plan, QString *whyNot) {
    const PairSettings &asked = plan.job.settings;
    if (asked.align || asked.movesTheWindow() || asked.adjust.matchColors || asked.fit) {
        *whyNot = QStringLiteral("a stage changes the eyes");
        return false;
    }
    if (!streamsOutput(asked)) {
        *whyNot = QStringLiteral(
            "the output is no JPEG, PNG or BMP, combined, side by side or one over the other");
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
    if (!asked.adjust.size)
        return true;
    // Enlarged eyes are interpolated, not averaged: the general path enlarges them whole.
    const QSize shown = eyeGeometry(plan).shown;
    if (shown.width() > eye.width() || shown.height() > eye.height()) {
        *whyNot = QStringLiteral("the eyes are enlarged");
        return false;
    }
    if (qint64(shown.width()) * shown.height() > kMaxPicturePixels) {
        *whyNot = QStringLiteral("the resized eyes are larger than the tool makes");
        return false;
    }
    return true;
}

std::optional<Outcome> runJpegStreamed(const PairPlan &plan, Threads threads) {
    return EyeStream(plan, threads).run();
}

} // namespace duoptica
