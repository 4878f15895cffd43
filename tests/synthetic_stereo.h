// Stereo pairs made up for alignment tests and benchmarks: textured planes at known depths, seen
// by a right eye that is toed in, turned, scaled and shifted vertically by known amounts, with red
// marker dots whose true place in either eye is known. The dots keep the grey level the features
// are found on, so they never help the alignment.
#pragma once

#include <QImage>
#include <QList>
#include <QPointF>
#include <QRectF>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>

namespace synthetic {

struct Plane {
    QRectF area;      // in the left eye; a null rectangle is the whole background
    double disparity; // x right - x left, in pixels
    unsigned seed;
};

struct Marker {
    QPointF left; // its centre in the left picture
    double disparity;
};

// How the right eye's picture is off: its camera toed in (turned about its vertical axis, which
// leaves a keystone), the picture moved down, then turned and scaled about the centre. The centre
// stays where it was horizontally, as the alignment leaves it. A radial distortion of the right
// lens alone, unlike the rest, fits no alignment.
struct EyeError {
    double rotationDegrees = 0;
    double scale = 1;
    double verticalOffset = 0;
    double toeInDegrees = 0;
    double radialDistortion = 0; // a point at the corner moves this share of its distance inwards
};

// What the planes are covered with.
enum class Texture {
    Noise,        // rough texture of several sizes everywhere
    Flat,         // one flat grey: a featureless pair
    Tiles,        // a floor of small square tiles that differ only faintly
    SharpSubject, // the nearest plane sharp, everything behind it soft and faint
    Macro,        // a small sharp subject on the nearest plane, everything else blurred almost flat
    Bee,          // the same with the subject half as large
    LowLight,     // dark and faint, with each eye's own sensor noise, as a small camera at night
    Fog,          // a soft fractal of faint contrast, as fog, snow or cloud
};

class Scene {
public:
    // A background behind the screen and two planes in front of it, the nearest one in front
    // of the screen too.
    explicit Scene(QSize size, Texture texture = Texture::Noise)
        : size_(size)
        , texture_(texture) {
        const double w = size.width(), h = size.height();
        planes_ = {{QRectF(), 4, 11},
                   {QRectF(0.2 * w, 0.25 * h, 0.3 * w, 0.45 * h), 12, 23},
                   {QRectF(0.6 * w, 0.4 * h, 0.25 * w, 0.4 * h), -7, 37}};
        for (int i = 0; i < int(planes_.size()); ++i)
            placeMarkers(i);
    }

    QSize size() const { return size_; }
    const QList<Marker> &markers() const { return markers_; }
    double nearestDisparity() const { return -7; }

    QImage left() const { return render({}, false); }
    QImage right(const EyeError &error) const { return render(error, true); }

private:
    static constexpr double kMarkerSigma = 1.5;
    static constexpr double kMarkerSpacing = 90;
    static constexpr double kMarkerInset = 30;
    // The dots add this much red and take away green so that 0.299 R + 0.587 G + 0.114 B stays;
    // textures keep within the grey levels where neither channel clips.
    static constexpr double kMarkerRed = 60;
    static constexpr double kMarkerGreen = -kMarkerRed * 0.299 / 0.587;
    static constexpr double kDarkest = 26;
    static constexpr double kLightest = 194;

    QRectF areaOf(int index) const {
        const QRectF area = planes_[index].area;
        return area.isNull() ? QRectF(QPointF(0, 0), QSizeF(size_)) : area;
    }

    // Markers sit on a grid over each plane, but not where a nearer plane hides them in either
    // eye.
    std::optional<QPointF> markerOnGrid(int index, double column, double row) const {
        const QRectF area = areaOf(index);
        const QPointF at(area.left() + kMarkerInset + column * kMarkerSpacing + 0.3,
                         area.top() + kMarkerInset + row * kMarkerSpacing + 0.6);
        if (column < 0 || row < 0 || at.x() > area.right() - kMarkerInset ||
            at.y() > area.bottom() - kMarkerInset)
            return {};
        for (int nearer = index + 1; nearer < int(planes_.size()); ++nearer) {
            const QRectF cover = planes_[nearer].area.adjusted(-12, -12, 12, 12);
            const double shift = planes_[nearer].disparity - planes_[index].disparity;
            if (cover.contains(at) || cover.contains(at + QPointF(-shift, 0)))
                return {};
        }
        return at;
    }

    void placeMarkers(int index) {
        for (int row = 0; row < 100; ++row)
            for (int column = 0; column < 100; ++column)
                if (const auto at = markerOnGrid(index, column, row))
                    markers_.append({*at, planes_[index].disparity});
    }

    static double lattice(int x, int y, unsigned seed) {
        std::uint32_t h =
            std::uint32_t(x) * 0x8da6b343u ^ std::uint32_t(y) * 0xd8163841u ^ seed * 0xcb1ab31fu;
        h ^= h >> 13;
        h *= 0x5bd1e995u;
        h ^= h >> 15;
        return (h & 0xFFFF) / 65535.0;
    }

    // Value noise with smooth steps between lattice points, cells of `cell` pixels.
    static double noise(double x, double y, double cell, unsigned seed) {
        const double u = x / cell, v = y / cell;
        const double fu = std::floor(u), fv = std::floor(v);
        const int iu = int(fu), iv = int(fv);
        const auto smooth = [](double t) { return t * t * (3 - 2 * t); };
        const double su = smooth(u - fu), sv = smooth(v - fv);
        const double top = lattice(iu, iv, seed) * (1 - su) + lattice(iu + 1, iv, seed) * su;
        const double bottom =
            lattice(iu, iv + 1, seed) * (1 - su) + lattice(iu + 1, iv + 1, seed) * su;
        return top * (1 - sv) + bottom * sv;
    }

    // Octaves of value noise from cells of 64 pixels down to 4, each half as strong: a plasma
    // whose finest detail is already blurred away.
    static double fractal(double x, double y, unsigned seed) {
        double sum = 0, weight = 0, amplitude = 1;
        for (double cell = 64; cell >= 4; cell /= 2, amplitude /= 2) {
            sum += amplitude * noise(x, y, cell, seed + unsigned(cell));
            weight += amplitude;
        }
        return sum / weight;
    }

    static double texture(double x, double y, unsigned seed) {
        return 0.45 * noise(x, y, 23, seed) + 0.35 * noise(x, y, 7, seed + 1) +
               0.2 * noise(x, y, 3, seed + 2);
    }

    // Tiles of 14 pixels with dark joints, each a little lighter or darker than the next and
    // speckled finely like stone.
    static double tiles(double x, double y, unsigned seed) {
        constexpr double kTile = 14;
        const double u = x / kTile, v = y / kTile;
        const double fu = u - std::floor(u), fv = v - std::floor(v);
        const double joint = std::min({fu, 1 - fu, fv, 1 - fv}) * kTile;
        const double shade = 0.55 + 0.15 * lattice(int(std::floor(u)), int(std::floor(v)), seed) +
                             0.2 * noise(x, y, 2.5, seed + 1);
        return joint < 1 ? 0.3 + 0.25 * joint : shade;
    }

    double greyOf(int index, double x, double y) const {
        const unsigned seed = planes_[index].seed;
        double shade = 0.5;
        switch (texture_) {
        case Texture::Noise:
            shade = texture(x, y, seed);
            break;
        case Texture::Flat:
            break;
        case Texture::Tiles:
            shade = tiles(x, y, seed);
            break;
        case Texture::Macro:
        case Texture::Bee: {
            // Sharp only within a disc at the nearest plane's centre, a fifth or a tenth of the
            // height across.
            const QPointF centre = areaOf(index).center();
            const double radius = (texture_ == Texture::Macro ? 0.1 : 0.05) * size_.height();
            const bool subject = index == int(planes_.size()) - 1 &&
                                 std::hypot(x - centre.x(), y - centre.y()) < radius;
            shade = subject
                        ? texture(x, y, seed)
                        : 0.45 + 0.03 * noise(x, y, 120, seed) + 0.01 * noise(x, y, 60, seed + 1);
            break;
        }
        case Texture::LowLight:
            shade = 0.04 + 0.12 * texture(x, y, seed);
            break;
        case Texture::Fog:
            shade = 0.45 + 0.08 * fractal(x, y, seed);
            break;
        case Texture::SharpSubject:
            shade = index == int(planes_.size()) - 1
                        ? texture(x, y, seed)
                        : 0.4 + 0.2 * noise(x, y, 90, seed) + 0.05 * noise(x, y, 40, seed + 1);
            break;
        }
        return kDarkest + (kLightest - kDarkest) * shade;
    }

    // Each eye's own noise at a pixel, the same in every channel: about 4 grey levels.
    static double sensorNoise(int x, int y, bool rightEye) {
        const unsigned seed = rightEye ? 71 : 53;
        return 4 * 1.7 * (lattice(x, y, seed) + lattice(x, y, seed + 1) - 1);
    }

    // The colour of plane `index` at a point of the left eye's frame, with `noise` added.
    QRgb planeColour(int index, double x, double y, double noise = 0) const {
        const double grey = greyOf(index, x, y) + noise;
        double redness = 0;
        const QRectF area = areaOf(index);
        const auto marker =
            markerOnGrid(index, std::round((x - area.left() - kMarkerInset) / kMarkerSpacing),
                         std::round((y - area.top() - kMarkerInset) / kMarkerSpacing));
        if (marker) {
            const double dx = x - marker->x(), dy = y - marker->y();
            const double squared = dx * dx + dy * dy;
            if (squared < 36)
                redness = 0.9 * std::exp(-squared / (2 * kMarkerSigma * kMarkerSigma));
        }
        const auto channel = [](double value) {
            return int(std::lround(std::clamp(value, 0.0, 255.0)));
        };
        return qRgb(channel(grey + redness * kMarkerRed), channel(grey + redness * kMarkerGreen),
                    channel(grey));
    }

    QImage render(const EyeError &error, bool rightEye) const {
        QImage picture(size_, QImage::Format_RGB32);
        const double cx = (size_.width() - 1) / 2.0, cy = (size_.height() - 1) / 2.0;
        const double angle = error.rotationDegrees * std::numbers::pi / 180;
        const double c = std::cos(angle) / error.scale, s = std::sin(angle) / error.scale;
        // A lens of a common focal length, 1.4 times the picture's width.
        const double focal = 1.4 * size_.width();
        const double toeIn = error.toeInDegrees * std::numbers::pi / 180;
        const double toeCos = std::cos(toeIn), toeSin = std::sin(toeIn);
        const double corner = std::hypot(cx, cy);
        for (int y = 0; y < size_.height(); ++y) {
            auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
            for (int x = 0; x < size_.width(); ++x) {
                // Undo the eye's error to find the point of the ideal right eye seen here.
                const double shrink = 1 - error.radialDistortion *
                                              (std::pow(x - cx, 2) + std::pow(y - cy, 2)) /
                                              (corner * corner);
                const double px = (x - cx) * shrink, py = (y - cy) * shrink;
                const double tx = c * px + s * py, ty = -s * px + c * py - error.verticalOffset;
                // Turning the camera back about its vertical axis; the centre's horizontal
                // shift of focal tan(toe-in) is put back first, as the error took it away.
                const double ux = tx + focal * toeSin / toeCos;
                const double depth = focal * toeCos + ux * toeSin;
                const double sx = focal * (ux * toeCos - focal * toeSin) / depth + cx;
                const double sy = focal * ty / depth + cy;
                int front = 0;
                for (int i = int(planes_.size()) - 1; i > 0; --i) {
                    if (planes_[i].area.contains(sx - (rightEye ? planes_[i].disparity : 0), sy)) {
                        front = i;
                        break;
                    }
                }
                const double shift = rightEye ? planes_[front].disparity : 0;
                row[x] =
                    planeColour(front, sx - shift, sy,
                                texture_ == Texture::LowLight ? sensorNoise(x, y, rightEye) : 0);
            }
        }
        return picture;
    }

    QSize size_;
    Texture texture_;
    QList<Plane> planes_;
    QList<Marker> markers_;
};

// The centre of the red dot near `guess`, weighted by how red each pixel is; a null point when
// there is none.
inline QPointF markerCentre(const QImage &picture, QPointF guess, int reach = 6) {
    double total = 0, sumX = 0, sumY = 0;
    const int gx = int(std::lround(guess.x())), gy = int(std::lround(guess.y()));
    for (int y = std::max(0, gy - reach); y <= std::min(picture.height() - 1, gy + reach); ++y) {
        for (int x = std::max(0, gx - reach); x <= std::min(picture.width() - 1, gx + reach); ++x) {
            const QRgb p = picture.pixel(x, y);
            const double redness = qRed(p) - (qGreen(p) + qBlue(p)) / 2.0 - 8;
            if (redness > 0) {
                total += redness;
                sumX += redness * x;
                sumY += redness * y;
            }
        }
    }
    return total > 0 ? QPointF(sumX / total, sumY / total) : QPointF();
}

} // namespace synthetic
