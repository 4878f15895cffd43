// --resize and --max-size: the stage that sizes each eye, after alignment and colour matching
// and before the eyes are combined or packed.
#pragma once

#include <QImage>
#include <QSize>

namespace duoptica {

struct EyeSize {
    enum class Kind {
        Box,        // --resize WxH: as large as fits in width x height, the aspect kept
        Width,      // --resize W: that width, the height from the aspect
        LongerSide, // --max-size N: the longer side at most N, never enlarged
    };
    Kind kind = Kind::Box;
    int width = 0;  // Box, Width
    int height = 0; // Box
    int longerSide = 0;
};

// The size an eye of size eye becomes; never below 1 x 1.
QSize sizedEye(QSize eye, const EyeSize &size);

// Brings one eye to the size, as resizeEyes() sizes each; false when memory runs out, the
// picture left as it was.
bool resizeEyeTo(QImage &eye, QSize size);

// Resizes both eyes (of one size): INTER_AREA to shrink, Lanczos to enlarge. False when memory
// runs out, the pictures left as they were.
bool resizeEyes(QImage &left, QImage &right, const EyeSize &size);
// The same to a size already reckoned, as for eyes decoded smaller than their files hold.
bool resizeEyes(QImage &left, QImage &right, QSize target);

} // namespace duoptica
