// --window N without --align: moving the right eye sideways to place the stereo window, and
// cropping both eyes to what they then share.
#pragma once

#include <QImage>

namespace duoptica {

// Moves the right eye `pixels` to the right (every disparity grows by that much; negative moves
// it left) and crops both eyes, the same size, to the columns they share. False, leaving them as
// they were, when the shift leaves nothing shared.
bool shiftWindow(QImage &left, QImage &right, int pixels);

} // namespace duoptica
