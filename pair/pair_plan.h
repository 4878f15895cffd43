// A pair's plan, made once before any pixel moves: what its inputs are, where each eye lies in
// them (after --swap), and which path takes the pair and why. Each path accepts a plan by its
// facts alone and runs it; none opens an input to find out whether it can.
#pragma once

#include "input_probe.h"
#include "pair_job.h"

#include <QList>

namespace duoptica {

// Where one eye lies within its input.
enum class EyeRegion { Whole, LeftHalf, RightHalf, TopHalf, BottomHalf };

struct EyeSource {
    int input = 0;                       // index into PairPlan::inputs
    std::optional<ByteRange> mpoImage;   // the eye is this image of an MPO
    EyeRegion region = EyeRegion::Whole; // or this half of its picture
    QByteArray head;                     // the first bytes of the eye's JPEG (its EXIF, JFIF)
    std::optional<JpegHeader> jpeg;      // of the eye's picture (for a half: the whole one's)
};

// The paths a pair may take, fastest first; the first that accepts the plan takes it.
enum class PairPath {
    LosslessCopy,  // JPEG eyes copied into an MPO or a pair of JPEG files, never decoded
    BmpDirect,     // two plain BMP files combined band by band into a BMP
    JpegStreamed,  // JPEG eyes decoded band by band into a JPEG or BMP
    WholePictures, // both eyes decoded whole, through every stage: takes any pair
};

struct PairPlan {
    PairJob job;
    QList<ProbedInput> inputs; // the files read, each probed once: one or two
    EyeSource left;            // the eyes as the output shows them, --swap applied
    EyeSource right;
    bool oneFile = false; // both eyes lie in one picture, side by side or one over the other
    PairPath path = PairPath::WholePictures;
    QString why; // what made the faster paths pass the pair on, for tests and the curious

    const ProbedInput &inputOf(const EyeSource &eye) const { return inputs[eye.input]; }
    // The size of an eye as its JPEG header gives it; empty when the eye is no JPEG.
    QSize jpegEyeSize(const EyeSource &eye) const;
};

// Probes the job's inputs and finds where each eye lies; the path is left to planPair()
// (pair_files.h), which asks each path in turn.
PairPlan probePair(const PairJob &job);

// The path's name, for messages and tests: "lossless copy", "direct BMP", ...
QString pairPathName(PairPath path);

} // namespace duoptica
