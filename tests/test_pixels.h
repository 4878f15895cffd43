// Pixels for tests: random ones that hit what the combining rule treats specially, pictures made
// of them, and the rule's answer for packed pixels computed through its literal form.
#pragma once

#include "pixel_rule.h"

#include <QImage>
#include <QString>

#include <array>
#include <cstdint>
#include <random>

// Packed words 0xAARRGGBB with ties for the largest channel, the extremes 0 and 255, odd sums
// that round, and anything in the alpha byte.
class RandomPixels {
public:
    explicit RandomPixels(unsigned seed)
        : engine_(seed) {}

    std::uint32_t next() {
        static constexpr std::array<int, 8> special{0, 1, 2, 3, 127, 128, 254, 255};
        std::array<int, 3> c{};
        for (int &channel : c)
            channel = pick(4) == 0 ? special[pick(special.size())] : pick(256);
        switch (pick(4)) {
        case 0:
            c[pick(3)] = c[pick(3)]; // often a tie, sometimes for the largest value
            break;
        case 1:
            c = {c[0], c[0], c[0]};
            break;
        default:
            break;
        }
        const auto alpha = static_cast<std::uint32_t>(pick(256)) << 24;
        return alpha | static_cast<std::uint32_t>(c[0] << 16 | c[1] << 8 | c[2]);
    }

private:
    int pick(std::size_t bound) {
        return std::uniform_int_distribution<int>(0, int(bound) - 1)(engine_);
    }

    std::mt19937 engine_;
};

// An opaque picture of such pixels.
inline QImage randomPicture(QSize size, unsigned seed) {
    RandomPixels pixels(seed);
    QImage picture(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            row[x] = pixels.next() | 0xFF000000u;
    }
    return picture;
}

// The packed word 0xffRRGGBB the rule gives for two packed words.
inline std::uint32_t referencePixel(std::uint32_t left, std::uint32_t right,
                                    duoptica::CombineMode mode) {
    const auto toColor = [](std::uint32_t p) -> duoptica::ColorValue {
        return static_cast<duoptica::ColorValue>(((p >> 16) & 0xFF) | (p & 0xFF00) |
                                                 ((p & 0xFF) << 16));
    };
    const duoptica::ColorValue c =
        duoptica::combinePixelByText(toColor(left), toColor(right), mode);
    return 0xFF000000u |
           static_cast<std::uint32_t>((c & 0xFF) << 16 | (c & 0xFF00) | ((c >> 16) & 0xFF));
}

// Empty when every pixel of output is the rule's for left and right, else the first that is not.
inline QString differenceFromRule(const QImage &left, const QImage &right, const QImage &output,
                                  duoptica::CombineMode mode) {
    if (output.size() != left.size())
        return QStringLiteral("output is %1x%2").arg(output.width()).arg(output.height());
    const QImage l = left.convertToFormat(QImage::Format_RGB32);
    const QImage r = right.convertToFormat(QImage::Format_RGB32);
    const QImage o = output.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < o.height(); ++y) {
        for (int x = 0; x < o.width(); ++x) {
            const QRgb want = referencePixel(l.pixel(x, y), r.pixel(x, y), mode);
            if (o.pixel(x, y) != want)
                return QStringLiteral("(%1, %2) is %3, the rule says %4")
                    .arg(x)
                    .arg(y)
                    .arg(o.pixel(x, y), 8, 16)
                    .arg(want, 8, 16);
        }
    }
    return {};
}
