// What one pair's job asks for, and how it ended: the description every path of a pair shares,
// from the files it reads to the file it writes.
#pragma once

#include "align_stage.h"
#include "anaglyph_methods.h"
#include "exit_code.h"
#include "picture_file.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

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

inline constexpr int kDefaultJpegQuality = 90;

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
    qint64 maxPixels = kMaxPicturePixels;             // --max-megapixels
};

struct Outcome {
    Outcome() = default;
    Outcome(ExitCode code, QString message)
        : code(code)
        , message(std::move(message)) {}

    ExitCode code = ExitCode::Success;
    QString message;   // one line naming the file and the reason; empty on success
    QStringList notes; // lines that tell what was done, each naming its file (from --align)
};

// The outcome of a job whose output could not be written, for the reason given.
Outcome cannotWrite(const QString &outputFile, const QString &why);

} // namespace duoptica
