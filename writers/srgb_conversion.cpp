#include "srgb_conversion.h"

#include <lcms2.h>

#include <algorithm>
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
    if (!transform)
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
