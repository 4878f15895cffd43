#include "packed_bands.h"

#include "picture_writer.h"
#include "stereo_output.h"

#include <QColorSpace>

#include <algorithm>
#include <functional>
#include <vector>

namespace duoptica {

namespace {

constexpr int kBandRows = 64;

const PackedPixel *rowOf(const QImage &eye, int y) {
    return reinterpret_cast<const PackedPixel *>(eye.constScanLine(y));
}

// The output's rows, each filled by fillRow(y, row), handed over a band at a time.
bool writeBands(PictureWriter &writer, const PictureHeader &header,
                const std::function<void(int, PackedPixel *)> &fillRow) {
    std::vector<PackedPixel> band(std::size_t(header.width) * kBandRows);
    for (int top = 0; top < header.height; top += kBandRows) {
        const int count = std::min(kBandRows, header.height - top);
        for (int row = 0; row < count; ++row)
            fillRow(top + row, band.data() + std::size_t(row) * std::size_t(header.width));
        if (!writer.writeRows(band.data(), top, count))
            return false;
    }
    return true;
}

} // namespace

bool writesPackedBands(const PairJob &job, const QImage &left) {
    const PairSettings &asked = job.settings;
    const bool packing = asked.to == StereoOutput::Parallel || asked.to == StereoOutput::Cross ||
                         asked.to == StereoOutput::OverUnder;
    const bool byBands = asked.format == FileFormat::Bmp || asked.format == FileFormat::Jpeg ||
                         asked.format == FileFormat::Png;
    return packing && byBands && !asked.fit && !left.colorSpace().isValid();
}

Outcome writePackedBands(const PairJob &job, const QImage &left, const QImage &right,
                         const QByteArray &exif, Threads threads) {
    const bool below = job.settings.to == StereoOutput::OverUnder;
    const bool jpeg = job.settings.format == FileFormat::Jpeg;
    const PictureHeader header{.width = below ? left.width() : 2 * left.width(),
                               .height = below ? 2 * left.height() : left.height(),
                               .dotsPerMeterX = left.dotsPerMeterX(),
                               .dotsPerMeterY = left.dotsPerMeterY(),
                               .quality = jpeg ? job.settings.jpegQuality : -1,
                               .exif = jpeg ? exif : QByteArray(),
                               .fullChroma = jpeg && jpegFullChroma(job)};
    const std::unique_ptr<PictureWriter> writer =
        bandWriter(job.settings.format, job.outputFile, threads == Threads::All);
    const bool cross = job.settings.to == StereoOutput::Cross;
    const QImage &first = cross ? right : left;
    const QImage &second = cross ? left : right;
    const int width = left.width(), height = left.height();
    const auto fillRow = [&](int y, PackedPixel *row) {
        if (below) {
            std::copy_n(y < height ? rowOf(left, y) : rowOf(right, y - height), width, row);
            return;
        }
        std::copy_n(rowOf(first, y), width, row);
        std::copy_n(rowOf(second, y), width, row + width);
    };
    const bool written =
        writer->begin(header) && writeBands(*writer, header, fillRow) && writer->finish();
    if (!written) {
        writer->cancel();
        return cannotWrite(writer->error());
    }
    return {};
}

} // namespace duoptica
