// A PNG file of an opaque picture, deflated a band of rows per thread: each band is filtered and
// deflated on its own, and the bands are joined at byte boundaries into one zlib stream, as pigz
// does. Its pixels are those Qt's PNG writer stores; its bytes are not.
#pragma once

#include <QImage>
#include <QString>

namespace duoptica {

// Whether writePngInParallel() keeps all a picture holds: a 32-bit opaque picture without text or
// colour profile, which Qt's writer would store as 8-bit RGB rows with its resolution alone.
bool canWritePngInParallel(const QImage &picture);

// Writes the picture (one canWritePngInParallel() accepts) to the file, atomically, over every
// core when allThreads. Returns an empty string on success, else the reason.
QString writePngInParallel(const QImage &picture, const QString &fileName, bool allThreads);

} // namespace duoptica
