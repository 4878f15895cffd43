#include "jpeg_markers.h"

#include <QByteArray>

#include <algorithm>

namespace duoptica {

namespace {

constexpr unsigned char kStartOfImage = 0xD8;
constexpr unsigned char kEndOfImage = 0xD9;
constexpr unsigned char kStartOfScan = 0xDA;

// Markers that stand alone, without a length: the temporary marker, restarts and start of image.
bool standsAlone(unsigned char code) {
    return code == 0x01 || (code >= 0xD0 && code <= 0xD7) || code == kStartOfImage;
}

} // namespace

void JpegScanCounter::onMarker(unsigned char code) {
    if (code == kEndOfImage) {
        state_ = State::End;
    } else if (standsAlone(code)) {
        state_ = State::MarkerPrefix;
    } else if (code == 0x00) {
        // Not a marker: a decoder skips such bytes looking for the next one, and so do we.
        state_ = State::Entropy;
    } else {
        // SOF9 to SOF15 but for DHT (0xC4), JPG (0xC8) and DAC (0xCC).
        if (code >= 0xC9 && code <= 0xCF && code != 0xCC)
            arithmetic_ = true;
        segmentIsScan_ = code == kStartOfScan;
        scans_ += segmentIsScan_;
        state_ = State::LengthHigh;
    }
}

void JpegScanCounter::feed(QByteArrayView bytes) {
    const auto *byte = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *const end = byte + bytes.size();
    const auto *const start = byte;
    while (byte < end && state_ != State::End) {
        switch (state_) {
        case State::MarkerPrefix:
            // Anything but 0xFF where a marker belongs is garbage the decoder skips, as it skips
            // entropy-coded data, until the next marker; counting must follow it there.
            state_ = *byte == 0xFF ? State::MarkerCode : State::Entropy;
            ++byte;
            break;
        case State::MarkerCode:
            if (*byte != 0xFF) // 0xFF bytes before a marker are fill
                onMarker(*byte);
            ++byte;
            break;
        case State::LengthHigh:
            lengthHigh_ = *byte++;
            state_ = State::LengthLow;
            break;
        case State::LengthLow:
            // The length counts its own two bytes; a smaller one cannot be, so treat the segment
            // as empty and look for the next marker.
            segmentLeft_ = std::max(0, (lengthHigh_ << 8 | *byte++) - 2);
            state_ = State::Segment;
            break;
        case State::Segment: {
            const qint64 skipped = std::min<qint64>(segmentLeft_, end - byte);
            byte += skipped;
            segmentLeft_ -= skipped;
            break;
        }
        case State::Entropy: {
            const auto *const data = byte;
            byte = std::find(byte, end, 0xFF);
            entropyBytes_ += byte - data;
            if (byte < end) {
                ++entropyBytes_;
                state_ = State::EntropyPrefix;
                ++byte;
            }
            break;
        }
        case State::EntropyPrefix:
            // 0xFF 0x00 is a stuffed data byte and a restart marker continues the same scan.
            if (*byte == 0x00 || (*byte >= 0xD0 && *byte <= 0xD7)) {
                state_ = State::Entropy;
                ++entropyBytes_;
            } else if (*byte != 0xFF)
                onMarker(*byte);
            ++byte;
            break;
        case State::End:
            break;
        }
        if (state_ == State::Segment && segmentLeft_ == 0)
            state_ = segmentIsScan_ ? State::Entropy : State::MarkerPrefix;
    }
    consumed_ += byte - start;
}

bool JpegDataCanHold(qint64 entropyBytes, qint64 width, qint64 height) {
    const qint64 fewestBlocks = ((width + 31) / 32) * ((height + 31) / 32);
    return entropyBytes * 8 >= fewestBlocks;
}

JpegScanCounter WalkJpegMarkers(QIODevice &input) {
    JpegScanCounter counter;
    QByteArray chunk;
    while (!counter.reachedEnd() && !(chunk = input.read(1 << 16)).isEmpty())
        counter.feed(chunk);
    input.seek(0);
    return counter;
}

int CountJpegScans(QIODevice &input) {
    return WalkJpegMarkers(input).scans();
}

} // namespace duoptica
