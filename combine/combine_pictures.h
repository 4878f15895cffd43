// The combining rule applied to whole decoded pictures, and to one pair of picture files.
#pragma once

#include "align_stage.h"
#include "anaglyph_methods.h"
#include "exit_code.h"

#include <QByteArray>
#include <QImage>
#include <QString>

namespace duoptica {

// The picture as the window's surfaces hold it: opaque 0xffRRGGBB words, with any transparent
// part showing the surfaces' background colour, so both programs combine the same pixels.
QImage asSourceBitmap(QImage picture);

enum class Threads { All, One };

// output[i] := the combination of left[i] and right[i] for i below count, spread over every
// core when asked to. output may be left or right itself.
void combinePixels(const PackedPixel *left, const PackedPixel *right, PackedPixel *output,
                   qsizetype count, AnaglyphMethod method, Threads threads);

// The result reuses left's pixels when it can. It is null when the two differ in size or
// memory runs out.
QImage combinePictures(QImage left, const QImage &right, AnaglyphMethod method,
                       Threads threads = Threads::All);

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

// Reads both eyes, turns them upright, swaps them if asked, aligns them when asked, checks their
// sizes, combines them and writes the output atomically.
Outcome combinePairFiles(const PairJob &job, Threads threads = Threads::All);

} // namespace duoptica
