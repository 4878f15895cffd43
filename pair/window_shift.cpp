#include "window_shift.h"

#include <cstdlib>

namespace duoptica {

bool shiftWindow(QImage &left, QImage &right, int pixels) {
    const int width = left.width() - std::abs(pixels);
    if (width < 1)
        return false;
    // Moving the right eye right by N is cutting N columns off the left eye's left side and as
    // many off the right eye's right side, so a point at x in the right eye lands N further on.
    const int leftX = pixels > 0 ? pixels : 0;
    const int rightX = pixels > 0 ? 0 : -pixels;
    left = left.copy(leftX, 0, width, left.height());
    right = right.copy(rightX, 0, width, right.height());
    return !left.isNull() && !right.isNull();
}

} // namespace duoptica
