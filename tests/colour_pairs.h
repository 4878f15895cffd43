// Stereo pairs whose eyes differ in colour by known amounts, made up for the colour-matching
// tests and benchmark, and the measures of how far apart two eyes' colours are.
#pragma once

#include <QImage>
#include <QPainter>
#include <QRect>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

namespace colourpairs {

// A scene of every brightness: a sky-to-ground gradient, coloured discs and bars, bright
// highlights and a fine grain that fills the histograms between the colours.
inline QImage scene(QSize size, unsigned seed) {
    QImage picture(size, QImage::Format_RGB32);
    const int w = size.width(), h = size.height();
    for (int y = 0; y < h; ++y) {
        auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
        const double t = double(y) / h;
        for (int x = 0; x < w; ++x)
            row[x] = qRgb(int(60 + 150 * t), int(110 + 60 * t), int(230 - 170 * t));
    }
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> level(0, 255), across(0, w), down(0, h),
        extent(w / 40 + 1, w / 6 + 2);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 60; ++i) {
        painter.setBrush(QColor(level(random), level(random), level(random)));
        if (i % 3 == 0)
            painter.drawRect(across(random), down(random), extent(random), extent(random) / 3);
        else
            painter.drawEllipse(QPoint(across(random), down(random)), extent(random) / 2,
                                extent(random) / 2);
    }
    for (int i = 0; i < 8; ++i) {
        // Highlights fading to white, so that clipping them would show.
        QRadialGradient glow(QPointF(across(random), down(random)), w / 20.0);
        glow.setColorAt(0, Qt::white);
        glow.setColorAt(1, QColor(200, 190, 170, 0));
        painter.setBrush(glow);
        painter.drawEllipse(glow.center(), w / 20.0, w / 20.0);
    }
    painter.end();
    std::normal_distribution<double> grain(0, 6);
    for (int y = 0; y < h; ++y) {
        auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int n = int(std::lround(grain(random)));
            row[x] =
                qRgb(std::clamp(qRed(row[x]) + n, 0, 255), std::clamp(qGreen(row[x]) + n, 0, 255),
                     std::clamp(qBlue(row[x]) + n, 0, 255));
        }
    }
    return picture;
}

// How the right camera differs: out = 255 * gain * balance * (in / 255) ^ (1 / gamma), per
// channel, clipped.
struct ColourError {
    double gamma = 1;
    double gain = 1;
    std::array<double, 3> balance{1, 1, 1}; // red, green, blue
};

inline QImage withColourError(QImage picture, const ColourError &error) {
    std::array<std::array<int, 256>, 3> curves;
    for (int c = 0; c < 3; ++c)
        for (int v = 0; v < 256; ++v)
            curves[c][v] = std::clamp(int(std::lround(255 * error.gain * error.balance[c] *
                                                      std::pow(v / 255.0, 1 / error.gamma))),
                                      0, 255);
    for (int y = 0; y < picture.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x)
            row[x] =
                qRgb(curves[0][qRed(row[x])], curves[1][qGreen(row[x])], curves[2][qBlue(row[x])]);
    }
    return picture;
}

struct Pair {
    QImage left;
    QImage right;
    QRect leftShared; // where each eye shows the same part of the scene
    QRect rightShared;
};

// The right eye sees the scene disparity pixels further right than the left eye does.
inline Pair shiftedPair(QSize size, int disparity, const ColourError &error, unsigned seed = 7) {
    const QImage wide = scene(size + QSize(disparity, 0), seed);
    Pair pair{wide.copy(disparity, 0, size.width(), size.height()),
              withColourError(wide.copy(0, 0, size.width(), size.height()), error),
              QRect(0, 0, size.width() - disparity, size.height()),
              QRect(disparity, 0, size.width() - disparity, size.height())};
    return pair;
}

using Histogram = std::array<double, 256>;

// The share of an area's pixels at each level of a channel (0 red, 1 green, 2 blue).
inline Histogram histogram(const QImage &picture, const QRect &area, int channel) {
    Histogram shares{};
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb pixel = picture.pixel(x, y);
            ++shares[channel == 0 ? qRed(pixel) : channel == 1 ? qGreen(pixel) : qBlue(pixel)];
        }
    for (double &share : shares)
        share /= double(area.width()) * area.height();
    return shares;
}

inline double mean(const Histogram &shares) {
    double sum = 0;
    for (int level = 0; level < 256; ++level)
        sum += level * shares[level];
    return sum;
}

// The earth mover's distance between two histograms of one channel, in levels: the area
// between their cumulative distributions.
inline double earthMovers(const Histogram &a, const Histogram &b) {
    double below = 0, distance = 0;
    for (int level = 0; level < 256; ++level) {
        below += a[level] - b[level];
        distance += std::abs(below);
    }
    return distance;
}

// The mean absolute difference of two pictures of one size, over all three channels.
inline double meanChange(const QImage &a, const QImage &b) {
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * a.width() * a.height());
}

} // namespace colourpairs
