// Walks the marker structure of a JPEG to count its scans without decoding it: each segment's
// declared length is skipped, and entropy-coded data is passed over as the decoder passes over it.
#pragma once

#include <QByteArrayView>
#include <QIODevice>

namespace duoptica {

// Fed the file in pieces of any size; it keeps no more than a few bytes of state, so a file of any
// size costs one pass. It stops at the first end-of-image marker, so the images of an MPO after
// the first, and whatever trails a JPEG, are not counted.
class JpegScanCounter {
public:
    void feed(QByteArrayView bytes);
    int scans() const { return scans_; }
    bool reachedEnd() const { return state_ == State::End; }
    // The bytes of entropy-coded data seen so far, restart markers and stuffing included.
    qint64 entropyBytes() const { return entropyBytes_; }
    // The frame is arithmetic-coded, which can spend less than a bit on a block.
    bool arithmetic() const { return arithmetic_; }
    // The bytes fed up to the end-of-image marker, or all of them before it.
    qint64 consumed() const { return consumed_; }

private:
    enum class State {
        MarkerPrefix,
        MarkerCode,
        LengthHigh,
        LengthLow,
        Segment,
        Entropy,
        EntropyPrefix,
        End
    };
    void onMarker(unsigned char code);

    State state_ = State::MarkerPrefix;
    bool segmentIsScan_ = false;
    int lengthHigh_ = 0;
    qint64 segmentLeft_ = 0;
    int scans_ = 0;
    qint64 entropyBytes_ = 0;
    bool arithmetic_ = false;
    qint64 consumed_ = 0;
};

// Whether entropyBytes of Huffman-coded data can hold a picture of width x height. Every scan
// that starts a component spends at least one bit on each of its 8x8 blocks, and no component
// is sampled less than a quarter of the picture each way; a header that claims more pixels than
// that belongs to a file cut short, and is refused before a picture of its size is allocated.
bool JpegDataCanHold(qint64 entropyBytes, qint64 width, qint64 height);

// Reads the device from its current position until the end of the first image (or of the file),
// then seeks back to the start.
JpegScanCounter WalkJpegMarkers(QIODevice &input);
int CountJpegScans(QIODevice &input);

} // namespace duoptica
