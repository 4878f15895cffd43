// The combining rule applied to whole decoded pictures, and to one pair of picture files.
#pragma once

#include "align_stage.h"
#include "combine_span.h"
#include "exit_code.h"
#include "pixel_rule.h"

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
                   qsizetype count, CombineMode mode, Threads threads);

// The result reuses left's pixels when it can. It is null when the two differ in size or
// memory runs out.
QImage combinePictures(QImage left, const QImage &right, CombineMode mode,
                       Threads threads = Threads::All);

struct PairJob {
    QString leftFile;
    QString rightFile;
    QString outputFile;
    QByteArray format; // "bmp", "png" or "jpg"
    CombineMode mode = CombineMode::Normal;
    std::optional<AlignOptions> align; // --align
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

// Reads both pictures, checks their sizes, aligns them when asked, combines them and writes
// the output atomically.
Outcome combinePairFiles(const PairJob &job, Threads threads = Threads::All);

} // namespace duoptica
