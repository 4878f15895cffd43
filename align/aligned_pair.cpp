#include "aligned_pair.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace duoptica::align {

PairLayout layoutPair(const AlignmentFit &fit, WindowPlacement window, int width, int height) {
    PairLayout layout;
    switch (window.kind) {
    case WindowPlacement::Kind::Keep:
        break;
    case WindowPlacement::Kind::NearestAtScreen:
        layout.windowShift = -fit.nearestDisparity;
        break;
    case WindowPlacement::Kind::Shift:
        layout.windowShift = window.pixels;
        break;
    }
    layout.rightToLeft = fit.rightToLeft.shiftedRight(layout.windowShift);
    layout.crop = largestCommonRectangle(layout.rightToLeft.inverse(), width, height);
    return layout;
}

void warpRight(PixelView right, const PairLayout &layout, PixelTarget target) {
    const cv::Mat source(right.height, right.width, CV_8UC4,
                         const_cast<std::uint32_t *>(right.pixels),
                         static_cast<std::size_t>(right.stride) * sizeof(std::uint32_t));
    cv::Mat output(target.height, target.width, CV_8UC4, target.pixels,
                   static_cast<std::size_t>(target.stride) * sizeof(std::uint32_t));
    // Output pixel (i, j) is the left frame's (crop.x + i, crop.y + j).
    const Homography cropToLeft{
        {1, 0, double(layout.crop.x), 0, 1, double(layout.crop.y), 0, 0, 1}};
    const Homography outputToRight = cropToLeft.then(layout.rightToLeft.inverse());
    const std::array<double, 9> &m = outputToRight.m;
    // The crop keeps every sample inside the picture; replicating only settles rounding. A
    // similarity takes the cheaper affine warp.
    if (outputToRight.isAffine())
        cv::warpAffine(source, output, cv::Matx23d(m[0], m[1], m[2], m[3], m[4], m[5]),
                       output.size(), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                       cv::BORDER_REPLICATE);
    else
        cv::warpPerspective(source, output, cv::Matx33d(m.data()), output.size(),
                            cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_REPLICATE);
}

} // namespace duoptica::align
