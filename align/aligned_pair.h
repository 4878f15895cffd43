// Putting the right picture where the fit says, shifting the pair's stereo window, and cropping
// both eyes to what they share.
#pragma once

#include "alignment_fit.h"
#include "common_rectangle.h"

namespace duoptica::align {

// Disparity is x right - x left: zero sits at the screen, negative comes out in front of it.
// A shift of N moves the right picture N pixels to the right, adding N to every disparity.
struct WindowPlacement {
    enum class Kind { Keep, NearestAtScreen, Shift };
    Kind kind = Kind::Keep;
    int pixels = 0; // for Shift
};

struct PairLayout {
    Homography rightToLeft; // the fit's, with the window shift added
    double windowShift = 0;
    PixelRect crop; // in the left picture's frame; both eyes are cut to it
};

PairLayout layoutPair(const AlignmentFit &fit, WindowPlacement window, int width, int height);

// Fills target, layout.crop's size, with the right picture moved as the layout says (bilinear).
void warpRight(PixelView right, const PairLayout &layout, PixelTarget target);

} // namespace duoptica::align
