// Stereo pairs made up for alignment tests and benchmarks: textured planes at known depths, seen
// by a right eye that is turned, scaled and shifted vertically by known amounts, with red marker
// dots whose true place in either eye is known.
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

// How the right eye's picture is off: moved down, then turned and scaled about the centre. The
// centre stays where it was horizontally, as the alignment leaves it.
struct EyeError {
    double rotationDegrees = 0;
    double scale = 1;
    double verticalOffset = 0;
};

class Scene {
public:
    // A background behind the screen and two planes in front of it, the nearest one in front
    // of the screen too.
    explicit Scene(QSize size)
        : size_(size) {
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

    // textured false gives a featureless pair: one flat grey.
    QImage left(bool textured = true) const { return render({}, textured, false); }
    QImage right(const EyeError &error, bool textured = true) const {
        return render(error, textured, true);
    }

private:
    static constexpr double kMarkerSigma = 1.5;
    static constexpr double kMarkerSpacing = 90;
    static constexpr double kMarkerInset = 30;

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

    static double texture(double x, double y, unsigned seed) {
        return 0.45 * noise(x, y, 23, seed) + 0.35 * noise(x, y, 7, seed + 1) +
               0.2 * noise(x, y, 3, seed + 2);
    }

    // The colour of plane `index` at a point of the left eye's frame.
    QRgb planeColour(int index, double x, double y, bool textured) const {
        const double grey = textured ? 30 + 200 * texture(x, y, planes_[index].seed) : 128;
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
        return qRgb(channel(grey + redness * (255 - grey)), channel(grey * (1 - redness)),
                    channel(grey * (1 - redness)));
    }

    QImage render(const EyeError &error, bool textured, bool rightEye) const {
        QImage picture(size_, QImage::Format_RGB32);
        const double cx = (size_.width() - 1) / 2.0, cy = (size_.height() - 1) / 2.0;
        const double angle = error.rotationDegrees * std::numbers::pi / 180;
        const double c = std::cos(angle) / error.scale, s = std::sin(angle) / error.scale;
        for (int y = 0; y < size_.height(); ++y) {
            auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
            for (int x = 0; x < size_.width(); ++x) {
                // Undo the eye's error to find the point of the ideal right eye seen here.
                const double px = x - cx, py = y - cy;
                const double sx = c * px + s * py + cx,
                             sy = -s * px + c * py + cy - error.verticalOffset;
                int front = 0;
                for (int i = int(planes_.size()) - 1; i > 0; --i) {
                    if (planes_[i].area.contains(sx - (rightEye ? planes_[i].disparity : 0), sy)) {
                        front = i;
                        break;
                    }
                }
                const double shift = rightEye ? planes_[front].disparity : 0;
                row[x] = planeColour(front, sx - shift, sy, textured);
            }
        }
        return picture;
    }

    QSize size_;
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
