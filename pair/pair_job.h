// What one pair's job asks for, and how it ended: the description every path of a pair shares,
// from the files it reads to the file it writes.
#pragma once

#include "align_stage.h"
#include "anaglyph_methods.h"
#include "exit_code.h"
#include "picture_file.h"
#include "resize_stage.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <optional>

namespace duoptica {

// Whether a job may spread its work over every core, or keeps to one (as each pair of a batch
// does, the batch running as many pairs as cores).
enum class Threads { All, One };

// Where the two eyes of a job are. Pair: two files. The others: one file holding both.
enum class StereoLayout {
    Pair,
    FromFile,  // an MPO (told by its content), or a .jps file, which is Cross
    Parallel,  // side by side, the left half for the left eye
    Cross,     // side by side, the left half for the right eye
    OverUnder, // the top half for the left eye
};

// What a job writes: one combined picture (an anaglyph or an average, by its mode), or the two
// eyes packed for a stereo viewer.
enum class StereoOutput {
    Anaglyph,
    Parallel, // both eyes at full size, as the layouts of the same names read them
    Cross,
    OverUnder,
    HalfParallel,  // each eye squeezed to half its width: the frame has one eye's size
    HalfOverUnder, // each eye squeezed to half its height
    Rows,          // the left eye on the even rows (counting from 0), the right on the odd
    Columns,       // the left eye on the even columns
    Checkerboard,  // the left eye where x + y is even
    Mpo,           // a multi-picture file of two JPEG images
    Jps,           // a cross-eyed side-by-side JPEG
    Pair,          // two files, NAME_L.ext and NAME_R.ext
    Wiggle,        // an animation showing the eyes in turn: GIF or WebP
};

inline constexpr int kDefaultWiggleMs = 150;

inline constexpr int kDefaultJpegQuality = 90;

// The stages after alignment, on both eyes: --match-colors, and --resize or --max-size.
struct EyeAdjustments {
    bool matchColors = false;
    std::optional<EyeSize> size = std::nullopt;
    bool any() const { return matchColors || size; }
};

struct PairJob {
    QString leftFile;  // with the Pair layout; for the others, the file holding both eyes
    QString rightFile; // with the Pair layout only
    QString outputFile;
    QByteArray format; // "bmp", "png" or "jpg"
    AnaglyphMethod mode = AnaglyphMethod::Normal;
    StereoLayout layout = StereoLayout::Pair;
    bool swap = false; // exchange the eyes once read
    int jpegQuality = kDefaultJpegQuality;
    std::optional<AlignOptions> align = std::nullopt; // --align
    EyeAdjustments adjust = {};
    // Set to a signal's number when the job is to stop (SIGTERM, SIGINT); each path looks at it
    // between bands and stages and then writes nothing. Null: never stopped.
    const std::atomic<int> *stop = nullptr;

    bool stopRequested() const { return stop && stop->load(std::memory_order_relaxed) != 0; }
    StereoOutput to = StereoOutput::Anaglyph;
    // --window N without --align: the right eye moved N pixels to the right, both cropped to
    // what they share.
    std::optional<int> windowShift = std::nullopt;
    int wiggleMs = kDefaultWiggleMs;      // each frame's time in a wiggle animation
    qint64 maxPixels = kMaxPicturePixels; // --max-megapixels
};

// The files a job writes: its output, or for StereoOutput::Pair the two NAME_L.ext and
// NAME_R.ext made from it.
QStringList outputFilesOf(const PairJob &job);

struct Outcome {
    Outcome() = default;
    Outcome(ExitCode code, QString message)
        : code(code)
        , message(std::move(message)) {}

    ExitCode code = ExitCode::Success;
    QString message;   // one line naming the file and the reason; empty on success
    QStringList notes; // lines that tell what was done, each naming its file (--align, colours)
};

// The outcome of a job whose output could not be written, for the reason given.
Outcome cannotWrite(const QString &outputFile, const QString &why);

// The outcome of a job stopped before its output was written.
Outcome interrupted(const PairJob &job);

} // namespace duoptica
