#include "bmp_direct.h"

#include "picture_writer.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSaveFile>
#include <QtConcurrentMap>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

#include <unistd.h>

namespace duoptica {

namespace {

constexpr qint64 kFileHeaderSize = 14;
constexpr qint64 kInfoHeaderSize = 40;
constexpr qint64 kHeadersSize = kFileHeaderSize + kInfoHeaderSize;
constexpr quint32 kInfoV4Size = 108;
constexpr quint32 kInfoV5Size = 124;
constexpr int kBandRows = 64;

qint64 rowBytes(qint64 width, int bitsPerPixel) {
    return (width * bitsPerPixel + 31) / 32 * 4;
}

// An uncompressed BMP as Qt's reader reads it, with every row lying within the file.
struct BmpView {
    qint64 pixels = 0; // where the first row stored starts in the file
    int width = 0;
    int height = 0;
    bool topDown = false;
    int bitsPerPixel = 0;
    qint64 stride = 0;
    qint32 dotsPerMeterX = 0;
    qint32 dotsPerMeterY = 0;

    // Where the rows from firstRow to endRow (counted from the top) are stored: one run of
    // bytes either way up.
    qint64 bandOffset(int firstRow, int endRow) const {
        return pixels + stride * (topDown ? firstRow : height - endRow);
    }
    // Row y of such a band, within the band's bytes.
    const uchar *bandRow(const uchar *band, int firstRow, int endRow, int y) const {
        return band + stride * (topDown ? y - firstRow : endRow - 1 - y);
    }
};

template <typename T> T little(const uchar *bytes) {
    return qFromLittleEndian<T>(bytes);
}

// What Qt's reader makes of a BMP's resolution: none (0) leaves a picture's default one.
qint32 readResolution(qint32 stored, int unset) {
    return stored == 0 ? unset : stored;
}

// Every uncompressed 24- or 32-bit layout qualifies, as ImageMagick and Qt write them: the
// header of Windows 3 and, for 24 bits, those of Windows 95 and 98, whose colour masks and
// colour spaces Qt's reader ignores for such rows. Anything else (palettes, masks, negative
// resolutions) keeps Qt's reader, so that the direct path never decodes differently.
std::optional<BmpView> viewBmp(const uchar *file, qint64 fileSize, qint64 maxPixels) {
    // file holds the headers only.
    if (fileSize < kHeadersSize || file[0] != 'B' || file[1] != 'M')
        return std::nullopt;
    const quint32 offset = little<quint32>(file + 10);
    const quint32 infoSize = little<quint32>(file + 14);
    const qint32 width = little<qint32>(file + 18);
    const qint32 height = little<qint32>(file + 22);
    const int bits = little<quint16>(file + 28);
    const qint32 storedX = little<qint32>(file + 38);
    const qint32 storedY = little<qint32>(file + 42);
    const bool plainHeader = infoSize == kInfoHeaderSize ||
                             (bits == 24 && (infoSize == kInfoV4Size || infoSize == kInfoV5Size));
    if (!plainHeader || little<quint16>(file + 26) != 1 || (bits != 24 && bits != 32) ||
        little<quint32>(file + 30) != 0 || little<quint32>(file + 46) != 0 || storedX < 0 ||
        storedY < 0)
        return std::nullopt;
    // A picture's default resolution, as Qt gives it in this process.
    static const QImage unset(1, 1, QImage::Format_RGB32);
    BmpView view;
    view.dotsPerMeterX = readResolution(storedX, unset.dotsPerMeterX());
    view.dotsPerMeterY = readResolution(storedY, unset.dotsPerMeterY());
    if (width <= 0 || height == 0 || height == std::numeric_limits<qint32>::min())
        return std::nullopt;
    view.width = width;
    view.height = height < 0 ? -height : height;
    if (qint64(view.width) * view.height > maxPixels)
        return std::nullopt;
    view.topDown = height < 0;
    view.bitsPerPixel = bits;
    view.stride = rowBytes(view.width, bits);
    if (offset < kFileHeaderSize + infoSize || offset > fileSize ||
        view.stride * view.height > fileSize - offset)
        return std::nullopt;
    view.pixels = offset;
    return view;
}

void expandRow(const BmpView &bmp, const uchar *in, PackedPixel *out) {
    if (bmp.bitsPerPixel == 32) {
        std::memcpy(out, in, std::size_t(bmp.width) * 4);
        return;
    }
    for (int x = 0; x < bmp.width; ++x, in += 3)
        out[x] = 0xFF000000u | PackedPixel(in[2]) << 16 | PackedPixel(in[1]) << 8 | in[0];
}

// An input read a band at a time into a buffer, so that each thread reads its own bands and no
// more than a band of either file is ever held. Read, not mapped: a file that shrinks while it is
// read gives a short read here, where a mapping would end the program at the first page past its
// new end.
struct InputFile {
    QFile file;

    bool open(const QString &name) {
        file.setFileName(name);
        return file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    // Fills band with count bytes from offset on. False when the file no longer holds them, as
    // when it shrank after its headers were checked, or when it cannot be read.
    bool readBand(qint64 offset, qint64 count, std::vector<uchar> &band) const {
        band.resize(std::size_t(count));
        std::size_t done = 0;
        while (done < band.size()) {
            const ssize_t got = ::pread(file.handle(), band.data() + done, band.size() - done,
                                        off_t(offset) + off_t(done));
            if (got == 0 || (got < 0 && errno != EINTR))
                return false;
            if (got > 0)
                done += std::size_t(got);
        }
        return true;
    }
};

// The view of an input as probed.
std::optional<BmpView> viewOf(const PairPlan &plan, const EyeSource &eye) {
    const ProbedInput &input = plan.inputOf(eye);
    if (!input.regular || input.head.size() < kHeadersSize)
        return std::nullopt;
    return viewBmp(reinterpret_cast<const uchar *>(input.head.constData()), input.size,
                   plan.job.settings.maxPixels);
}

} // namespace

bool acceptsBmpDirect(const PairPlan &plan, QString *whyNot) {
    const PairSettings &asked = plan.job.settings;
    if (plan.job.layout != StereoLayout::Pair || asked.to != StereoOutput::Anaglyph ||
        asked.format != FileFormat::Bmp) {
        *whyNot = QStringLiteral("the output is no BMP combined from two files");
        return false;
    }
    if (asked.align || asked.adjust.any() || asked.movesTheWindow() || asked.fit) {
        *whyNot = QStringLiteral("a stage changes the eyes");
        return false;
    }
    const std::optional<BmpView> left = viewOf(plan, plan.left);
    const std::optional<BmpView> right = viewOf(plan, plan.right);
    if (!left || !right || left->width != right->width || left->height != right->height) {
        *whyNot = QStringLiteral("the inputs are not plain 24- or 32-bit BMPs of one size");
        return false;
    }
    return true;
}

std::optional<Outcome> runBmpDirect(const PairPlan &plan, Threads threads) {
    const PairJob &job = plan.job;
    const std::optional<BmpView> left = viewOf(plan, plan.left);
    const std::optional<BmpView> right = viewOf(plan, plan.right);
    InputFile leftFile;
    InputFile rightFile;
    if (!left || !right || !leftFile.open(plan.inputOf(plan.left).file) ||
        !rightFile.open(plan.inputOf(plan.right).file))
        return std::nullopt;

    // Each band is written where it belongs as soon as it is combined, so that writing overlaps
    // combining and no whole output is ever held.
    const std::unique_ptr<PictureWriter> output = bandWriter(FileFormat::Bmp, job.outputFile);
    if (!output->begin({.width = left->width,
                        .height = left->height,
                        .dotsPerMeterX = left->dotsPerMeterX,
                        .dotsPerMeterY = left->dotsPerMeterY,
                        .quality = -1,
                        .exif = {}}))
        return cannotWrite(output->error());
    std::atomic<const InputFile *> shortInput = nullptr;
    std::atomic<bool> stopped = false;

    const auto combineBand = [&](int firstRow) {
        const std::size_t width = std::size_t(left->width);
        const int endRow = std::min(firstRow + kBandRows, left->height);
        const int rowCount = endRow - firstRow;
        if (job.stopRequested()) {
            stopped = true;
            return;
        }
        thread_local std::vector<uchar> leftBand;
        thread_local std::vector<uchar> rightBand;
        if (!leftFile.readBand(left->bandOffset(firstRow, endRow), left->stride * rowCount,
                               leftBand)) {
            shortInput = &leftFile;
            return;
        }
        if (!rightFile.readBand(right->bandOffset(firstRow, endRow), right->stride * rowCount,
                                rightBand)) {
            shortInput = &rightFile;
            return;
        }
        const uchar *const leftBandBytes = leftBand.data();
        const uchar *const rightBandBytes = rightBand.data();
        std::vector<PackedPixel> rows(width * 2);
        std::vector<PackedPixel> combined(width * std::size_t(rowCount));
        PackedPixel *const leftRow = rows.data();
        PackedPixel *const rightRow = leftRow + width;
        for (int y = firstRow; y < endRow; ++y) {
            expandRow(*left, left->bandRow(leftBandBytes, firstRow, endRow, y), leftRow);
            expandRow(*right, right->bandRow(rightBandBytes, firstRow, endRow, y), rightRow);
            combineMethodSpan(leftRow, rightRow,
                              combined.data() + width * std::size_t(y - firstRow), width,
                              job.settings.mode);
        }
        output->writeRows(combined.data(), firstRow, rowCount);
    };
    std::vector<int> bands;
    for (int row = 0; row < left->height; row += kBandRows)
        bands.push_back(row);
    if (threads == Threads::One)
        std::for_each(bands.begin(), bands.end(), combineBand);
    else
        QtConcurrent::blockingMap(bands, combineBand);

    if (stopped) {
        output->cancel();
        return interrupted(job);
    }
    if (const InputFile *input = shortInput) {
        // It shrank after its headers were checked.
        output->cancel();
        return Outcome{
            ExitCode::UnreadableInput,
            QStringLiteral("%1: cannot read: The file is truncated.").arg(input->file.fileName())};
    }
    if (!output->finish())
        return cannotWrite(output->error());
    return Outcome{};
}

} // namespace duoptica
