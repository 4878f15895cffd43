#include "srgb_conversion.h"

#include <lcms2.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <type_traits>
#include <vector>

namespace duoptica {

namespace {

template <auto Close> struct LcmsClose {
    template <typename Handle> void operator()(Handle handle) const { Close(handle); }
};
using Profile = std::unique_ptr<std::remove_pointer_t<cmsHPROFILE>, LcmsClose<cmsCloseProfile>>;
using Transform =
    std::unique_ptr<std::remove_pointer_t<cmsHTRANSFORM>, LcmsClose<cmsDeleteTransform>>;

// Whether the space gives mid and light colours as sRGB does, within two levels: PNG encoders
// write sRGB as gamma 2.2 with sRGB's primaries (gAMA and cHRM chunks), which differs from sRGB's
// curve only in the darkest tones. Converting would move those, where the encoder meant none.
bool isNearlySrgb(cmsHTRANSFORM transform) {
    constexpr int kTolerance = 2;
    // B, G, R, X as the words lie in memory.
    static const quint8 kColours[][4] = {
        {255, 255, 255, 255}, {128, 128, 128, 255}, {128, 128, 255, 255}, {128, 255, 128, 255},
        {255, 128, 128, 255}, {128, 255, 255, 255}, {255, 128, 255, 255}, {255, 255, 128, 255}};
    quint8 converted[std::size(kColours)][4];
    cmsDoTransform(transform, kColours, converted, cmsUInt32Number(std::size(kColours)));
    for (std::size_t i = 0; i < std::size(kColours); ++i)
        for (int c = 0; c < 3; ++c)
            if (std::abs(int(converted[i][c]) - int(kColours[i][c])) > kTolerance)
                return false;
    return true;
}

} // namespace

void convertToSrgb(QImage &picture, const QColorSpace &from) {
    if (!from.isValid() || from == QColorSpace(QColorSpace::SRgb) ||
        picture.format() != QImage::Format_RGB32)
        return;
    const QByteArray icc = from.iccProfile();
    const Profile source(cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size())));
    if (!source || cmsGetColorSpace(source.get()) != cmsSigRgbData)
        return;
    const Profile srgb(cmsCreate_sRGBProfile());
    // 0xffRRGGBB words lie in memory as B, G, R, X.
    const Transform transform(cmsCreateTransform(source.get(), TYPE_BGRA_8, srgb.get(), TYPE_BGRA_8,
                                                 cmsGetHeaderRenderingIntent(source.get()),
                                                 cmsFLAGS_COPY_ALPHA));
    if (!transform || isNearlySrgb(transform.get()))
        return;
    const auto width = cmsUInt32Number(picture.width());
    std::vector<uchar> row(std::size_t(picture.bytesPerLine()));
    for (int y = 0; y < picture.height(); ++y) {
        uchar *line = picture.scanLine(y);
        cmsDoTransform(transform.get(), line, row.data(), width);
        std::copy_n(row.data(), 4 * std::size_t(width), line);
    }
    picture.setColorSpace(QColorSpace(QColorSpace::SRgb));
}

} // namespace duoptica
