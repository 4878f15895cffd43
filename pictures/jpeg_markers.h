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
};

// Reads the device from its current position until the end of the first image (or of the file),
// then seeks back to the start.
int CountJpegScans(QIODevice &input);

} // namespace duoptica
