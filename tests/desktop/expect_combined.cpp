// Checks a saved output picture against the combining rule applied to the two source files, as
// the window's surfaces hold them: drawn unscaled at the top left over the background colour.
#include "pixel_rule.h"

#include <QCoreApplication>
#include <QImage>

#include <cstdio>
#include <map>
#include <string>

namespace {

constexpr duoptica::ColorValue kBackground = 0x404040;

duoptica::ColorValue colorAt(const QImage &picture, int x, int y) {
    if (x >= picture.width() || y >= picture.height())
        return kBackground;
    const QRgb rgb = picture.pixel(x, y);
    return qRed(rgb) + 256 * qGreen(rgb) + 65536 * qBlue(rgb);
}

bool load(QImage &picture, const char *path) {
    if (picture.load(QString::fromLocal8Bit(path)))
        return true;
    std::fprintf(stderr, "cannot read the picture %s\n", path);
    return false;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const std::map<std::string, duoptica::CombineMode> modes = {
        {"Normal", duoptica::CombineMode::Normal},
        {"Red-Blue", duoptica::CombineMode::RedBlue},
        {"Red-Green", duoptica::CombineMode::RedGreen}};
    if (argc != 5 || !modes.contains(argv[1])) {
        std::fprintf(stderr, "usage: %s Normal|Red-Blue|Red-Green LEFT RIGHT SAVED\n", argv[0]);
        return 2;
    }
    const duoptica::CombineMode mode = modes.at(argv[1]);
    QImage left, right, saved;
    if (!load(left, argv[2]) || !load(right, argv[3]) || !load(saved, argv[4]))
        return 2;

    long differing = 0;
    for (int y = 0; y < saved.height(); ++y) {
        for (int x = 0; x < saved.width(); ++x) {
            const duoptica::ColorValue expected =
                duoptica::combinePixel(colorAt(left, x, y), colorAt(right, x, y), mode);
            const duoptica::ColorValue actual = colorAt(saved, x, y);
            if (actual != expected && differing++ == 0)
                std::fprintf(stderr,
                             "first difference at (%d, %d): expected 0x%06X, saved 0x%06X\n", x, y,
                             static_cast<unsigned>(expected), static_cast<unsigned>(actual));
        }
    }
    std::printf("%s picture of %d x %d pixels: %ld pixels differ from the rule\n", argv[1],
                saved.width(), saved.height(), differing);
    return differing == 0 ? 0 : 1;
}
