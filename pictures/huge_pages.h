// Large pictures on transparent huge pages where the kernel offers them, so that filling a
// 96 MB picture costs about fifty page faults instead of about 24,000.
#pragma once

#include <QImage>
#include <QSize>

namespace duoptica {

// A new picture whose pixel memory is marked for huge pages before anything touches it. Qt's
// decoders fill a picture handed to them when its size and format are the ones they would make.
QImage AllocatePicture(QSize size, QImage::Format format);

} // namespace duoptica
