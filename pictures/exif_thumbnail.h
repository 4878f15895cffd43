// The EXIF thumbnail of a JPEG the tool encodes: 160 x 120 as DCF asks, made from the output's
// own pixels, the picture letterboxed in black. The streamed path writes its EXIF before it has
// seen the pixels, so the EXIF segment is written first at a size fixed in advance and filled in
// at the end; a whole picture's EXIF is padded to the same size, so both paths give the same
// bytes.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

#include <cstdint>
#include <utility>
#include <vector>

namespace duoptica {

// Averages the pixels of a picture, given a band of rows at a time, into its thumbnail.
class ThumbnailAccumulator {
public:
    explicit ThumbnailAccumulator(QSize picture);
    // Rows firstRow to firstRow + count - 1, the picture's width of 0xffRRGGBB words each.
    void addRows(const std::uint32_t *rows, int firstRow, int count);
    void addPicture(const QImage &picture);
    QImage thumbnail() const;

private:
    QSize picture_;
    QSize content_; // the picture's area in the thumbnail
    // The picture's columns and rows each thumbnail column and row covers, from and to.
    std::vector<std::pair<int, int>> columns_;
    std::vector<std::pair<int, int>> rows_;
    std::vector<std::uint64_t> sums_; // red, green, blue and count of each content pixel
};

// The EXIF payload an output of the size given starts with (OutputExif), padded with zeros to
// the size kept for it and its thumbnail; empty when even the EXIF alone does not fit a segment.
QByteArray ExifPlaceholder(const QByteArray &eyeExif, QSize size);

// The same EXIF with the thumbnail, as small a JPEG of it as fits, at exactly the placeholder's
// size; without the thumbnail when none fits.
QByteArray ExifWithThumbnail(const QByteArray &eyeExif, QSize size, const QImage &thumbnail);

} // namespace duoptica
