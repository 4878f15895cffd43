// A similarity transform of the plane (rotation, uniform scale, translation) in pixel
// coordinates, where a pixel's centre sits on whole numbers and y grows downwards.
#pragma once

namespace duoptica::align {

struct Point {
    double x = 0;
    double y = 0;
};

// x' = b x - a y + tx,  y' = a x + b y + ty,  with a = scale sin(angle), b = scale cos(angle).
struct Similarity {
    double a = 0;
    double b = 1;
    double tx = 0;
    double ty = 0;

    Point apply(Point p) const { return {b * p.x - a * p.y + tx, a * p.x + b * p.y + ty}; }
    Similarity inverse() const;
    // Positive turns the picture clockwise on the screen.
    double rotationDegrees() const;
    double scale() const;
};

} // namespace duoptica::align
