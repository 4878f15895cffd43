// What duoptica-combine does with its command line, from parsing to the exit status.
#pragma once

#include <QStringList>

namespace duoptica {

// Camera pictures run to 50 megapixels and more; Qt's default limit (128 MiB) refuses anything
// above 32. The picture files refuse more than kMaxPicturePixels (100 megapixels); this lets a
// picture of that size decode even at 16 bits a channel, as a PNG may.
inline constexpr int kPictureAllocationLimitMiB = 1024;

// Prints to stdout and toolErrors(); returns the exit status.
int runCombineTool(const QStringList &arguments);

} // namespace duoptica
