#include "resize_stage.h"

#include "combine_pictures.h"
#include "huge_pages.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <utility>

namespace duoptica {

namespace {

int scaled(int side, double factor) {
    return std::max(1, int(std::lround(side * factor)));
}

QImage resized(const QImage &picture, QSize size) {
    QImage output = AllocatePicture(size, QImage::Format_RGB32);
    if (output.isNull())
        return output;
    output.setDotsPerMeterX(picture.dotsPerMeterX());
    output.setDotsPerMeterY(picture.dotsPerMeterY());
    const cv::Mat from(picture.height(), picture.width(), CV_8UC4,
                       const_cast<uchar *>(picture.constBits()),
                       std::size_t(picture.bytesPerLine()));
    cv::Mat to(size.height(), size.width(), CV_8UC4, output.bits(),
               std::size_t(output.bytesPerLine()));
    // Area averaging is the one filter that shrinks without aliasing or ringing; Lanczos keeps
    // edges sharpest when enlarging.
    const bool shrinking = size.width() <= picture.width() && size.height() <= picture.height();
    cv::resize(from, to, to.size(), 0, 0, shrinking ? cv::INTER_AREA : cv::INTER_LANCZOS4);
    return output;
}

} // namespace

QSize sizedEye(QSize eye, const EyeSize &size) {
    const double width = eye.width(), height = eye.height();
    switch (size.kind) {
    case EyeSize::Kind::Box: {
        const double factor = std::min(size.width / width, size.height / height);
        return {std::min(size.width, scaled(eye.width(), factor)),
                std::min(size.height, scaled(eye.height(), factor))};
    }
    case EyeSize::Kind::Width:
        return {size.width, scaled(eye.height(), size.width / width)};
    case EyeSize::Kind::LongerSide: {
        const double factor = std::min(1.0, size.longerSide / std::max(width, height));
        return {scaled(eye.width(), factor), scaled(eye.height(), factor)};
    }
    }
    return eye;
}

bool resizeEyeTo(QImage &eye, QSize size) {
    if (eye.size() == size)
        return true;
    QImage output = resized(asSourceBitmap(eye), size);
    if (output.isNull())
        return false;
    eye = std::move(output);
    return true;
}

bool resizeEyes(QImage &left, QImage &right, const EyeSize &size) {
    return resizeEyes(left, right, sizedEye(left.size(), size));
}

bool resizeEyes(QImage &left, QImage &right, QSize target) {
    if (target == left.size())
        return true;
    // One eye at a time, each whole picture let go once its smaller copy is made, so a pair
    // sized down never holds more than it did.
    for (QImage *eye : {&left, &right}) {
        QImage output = resized(asSourceBitmap(std::move(*eye)), target);
        if (output.isNull())
            return false;
        *eye = std::move(output);
    }
    return true;
}

} // namespace duoptica
