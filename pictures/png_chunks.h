// The chunks of a PNG file, walked before the decoder sees them. libpng trusts a chunk's declared
// length: a 2 KB file declaring a 2 GB text chunk makes it allocate 2 GB before it finds the file
// short, and a few thousand small compressed text chunks inflate to gigabytes. Refused here, a PNG
// costs memory in proportion to its file and its declared picture.
#pragma once

#include <QIODevice>
#include <QString>

namespace duoptica {

// Empty when the input is no PNG or its chunks are sound; otherwise the reason to refuse it.
// Leaves the input at its start.
QString checkPngChunks(QIODevice &input);

} // namespace duoptica
