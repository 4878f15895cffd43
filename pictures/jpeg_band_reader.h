// Decodes a JPEG file a few rows at a time, as Qt's JPEG reader would decode it whole, into
// 0xffRRGGBB words. It reads the file through a small buffer, so a picture of any size costs a
// few rows of memory (a progressive one, its coefficients as well).
#pragma once

#include <cstdint>

#include <QByteArray>
#include <QByteArrayView>
#include <QSize>
#include <QString>

#include <memory>

namespace duoptica {

// The denominator (1, 2, 4 or 8) at which to decode a JPEG of the stored size that is then shrunk
// by area to target. Reduced in the DCT, detail is cut more sharply than by area averaging: the
// largest that still leaves the average at least 2x to shrink, which keeps the result within a
// level of the whole decode's on grainy photographs too, and that divides both sides, since one
// that does not would shift the picture by a fraction of a block. 1 when none does.
int JpegReductionFor(QSize stored, QSize target);

class JpegBandReader {
public:
    JpegBandReader();
    ~JpegBandReader();
    JpegBandReader(const JpegBandReader &) = delete;
    JpegBandReader &operator=(const JpegBandReader &) = delete;

    // Opens a regular file and reads its header. False for anything but a JPEG whose header
    // libjpeg accepts.
    bool open(const QString &fileName);
    // The same for a JPEG held in memory, such as one image of a multi-picture file; the bytes
    // must outlive the reader.
    bool openBytes(QByteArrayView bytes);

    int width() const;
    int height() const;
    // Colour (three components) or grey: the kinds Qt decodes straight into 0xffRRGGBB words.
    bool isColourOrGrey() const;
    // The data of the APP1 segments in file order, where EXIF lives.
    QByteArray app1Data() const;
    // A comment or a colour profile, which Qt's reader attaches to the picture.
    bool hasCommentOrProfile() const;
    // The resolution Qt's reader gives the picture, in dots per metre; defaultDpm where the file
    // gives none.
    int dotsPerMeterX(int defaultDpm) const;
    int dotsPerMeterY(int defaultDpm) const;

    // Decodes at 1/denominator of the size (1, 2, 4 or 8) in the inverse DCT itself, far faster
    // than decoding whole and shrinking; set before start(). The rows are then
    // scaledWidth() words each.
    void setScaleDenominator(int denominator);
    int scaledWidth() const;
    int scaledHeight() const;

    // Starts decoding; a progressive picture is read whole here. False when the decoder fails,
    // the file runs short or its scan data stops early, it holds more scans than the loader
    // accepts, or a progressive header claims more pixels than its scan data can hold.
    bool start();
    // Decodes the next count rows into rows, scaledWidth() words each.
    bool readRows(std::uint32_t *rows, int count);
    // Passes over the next count rows without producing them, at a fraction of their cost, as
    // for the lower eye of a picture holding both one over the other.
    bool skipRows(int count);
    // Reads on to the end of the picture, as Qt's reader does after the last row, so that a
    // file cut short after its last row is refused alike.
    bool finish();

private:
    bool readHeader();

    struct State;
    std::unique_ptr<State> state_;
};

} // namespace duoptica
