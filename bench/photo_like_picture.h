// The benches' made-up photograph.
#pragma once

#include <QImage>

#include <algorithm>
#include <cmath>
#include <random>

// Smooth colours with a little noise: it compresses about as a photograph does, where noise alone
// would make JPEG files several times a camera's size.
inline QImage photoLikePicture(int width, int height, unsigned seed) {
    QImage picture(width, height, QImage::Format_RGB32);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const auto channel = [&](double wave) {
                return std::clamp(int(128 + 100 * std::sin(wave) + int(random() % 17) - 8), 0, 255);
            };
            row[x] = qRgb(channel(x * 0.011 + seed), channel(y * 0.017 + x * 0.003),
                          channel((x + y) * 0.007 - seed));
        }
    }
    return picture;
}
