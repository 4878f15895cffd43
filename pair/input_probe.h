// What a pair's input files are, read once from their first bytes: whether each is a regular
// file, a JPEG (with what its header tells), an MPO (with its index) or a BMP, so that the choice
// of path looks at facts instead of opening the files again.
#pragma once

#include "mpo_index.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace duoptica {

// What a JPEG's header says, as far as the choice of path cares.
struct JpegHeader {
    int width = 0;
    int height = 0;
    bool colourOrGrey = false;     // three components or one: what Qt decodes straight to words
    bool upright = true;           // no EXIF orientation that Qt's reader would turn
    bool commentOrProfile = false; // which Qt's reader attaches to the picture
};

struct ProbedInput {
    QString file;
    bool regular = false; // only a regular file is read: a FIFO would wait for a writer
    qint64 size = 0;
    QByteArray head; // the first bytes, where every header the paths read lies
    MpoIndex mpo;    // NotMpo unless the file starts as an MPO does
    std::optional<JpegHeader> jpeg;
};

// The file's first bytes and what they tell; a file that is not regular is not opened.
ProbedInput probeInput(const QString &file);

// What a JPEG's header says, from bytes that hold at least its header segments; none when
// libjpeg refuses them.
std::optional<JpegHeader> readJpegHeader(QByteArrayView bytes);

// The first bytes of the image at range within the file.
QByteArray readImageHead(const QString &file, ByteRange range);

} // namespace duoptica
