// What one pair's job asks for, and how it ended: the description every path of a pair shares,
// from the files it reads to the file it writes.
#pragma once

#include "align_stage.h"
#include "anaglyph_methods.h"
#include "exit_code.h"
#include "output_format.h"
#include "picture_file.h"
#include "picture_writer.h"
#include "resize_stage.h"

#include <QByteArray>
#include <QSize>
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

inline constexpr int kDefaultWiggleMs = 150;

inline constexpr int kDefaultJpegQuality = 90;

// The stages after alignment, on both eyes: --match-colors, and --resize or --max-size.
struct EyeAdjustments {
    bool matchColors = false;
    std::optional<EyeSize> size = std::nullopt;
    bool any() const { return matchColors || size; }
};

// What the user asked of a pair, the same for every pair of a batch: the one place a new
// option's value goes, from the command line through the batch to each pair's job.
struct PairSettings {
    AnaglyphMethod mode = AnaglyphMethod::Normal;
    StereoOutput to = StereoOutput::Anaglyph;
    FileFormat format = FileFormat::Bmp; // how the output file is encoded
    bool swap = false;                   // exchange the eyes once read
    int jpegQuality = kDefaultJpegQuality;
    std::optional<AlignOptions> align = std::nullopt; // --align
    // --window N without --align: the right eye moved N pixels to the right, both cropped to
    // what they share.
    std::optional<int> windowShift = std::nullopt;
    // --window auto without --align: the same, by the shift that puts the nearest matched points
    // at the screen, measured on the eyes as they are.
    bool windowAtNearest = false;
    EyeAdjustments adjust = {};
    int wiggleMs = kDefaultWiggleMs;      // each frame's time in a wiggle animation
    qint64 maxPixels = kMaxPicturePixels; // --max-megapixels
    // --fit WxH: the combined or packed picture scaled to fit this frame and centred on black.
    std::optional<QSize> fit = std::nullopt;

    bool movesTheWindow() const { return windowShift || windowAtNearest; }
};

struct PairJob {
    QString leftFile;  // with the Pair layout; for the others, the file holding both eyes
    QString rightFile; // with the Pair layout only
    QString outputFile;
    StereoLayout layout = StereoLayout::Pair;
    PairSettings settings = {};
    // Set to a signal's number when the job is to stop (SIGTERM, SIGINT); each path looks at it
    // between bands and stages and then writes nothing. Null: never stopped.
    const std::atomic<int> *stop = nullptr;

    bool stopRequested() const { return stop && stop->load(std::memory_order_relaxed) != 0; }
};

// The extension of a pair's output in a batch: mpo or jps for those outputs, else the file
// format's own.
QString batchExtension(const PairSettings &settings);

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
Outcome cannotWrite(const WriteError &error);

// The outcome of a job stopped before its output was written.
Outcome interrupted(const PairJob &job);

} // namespace duoptica
