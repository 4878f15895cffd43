#include "pair_plan.h"

#include "stereo_input.h"

namespace duoptica {

namespace {

EyeSource wholeFile(const PairPlan &plan, int input) {
    EyeSource eye;
    eye.input = input;
    eye.head = plan.inputs[input].head;
    eye.jpeg = plan.inputs[input].jpeg;
    return eye;
}

EyeSource mpoImage(const PairPlan &plan, ByteRange image) {
    const ProbedInput &input = plan.inputs[0];
    // The first image starts the file, and its head is already read.
    QByteArray head = image.offset == 0 ? input.head.first(std::min(input.head.size(), image.size))
                                        : readImageHead(input.file, image);
    std::optional<JpegHeader> jpeg = readJpegHeader(head);
    EyeSource eye;
    eye.mpoImage = image;
    eye.head = std::move(head);
    eye.jpeg = jpeg;
    return eye;
}

EyeSource half(const PairPlan &plan, EyeRegion region) {
    EyeSource eye = wholeFile(plan, 0);
    eye.region = region;
    return eye;
}

// The eyes of one picture holding both, in the layout.
void cutInTwo(PairPlan &plan, StereoLayout layout) {
    plan.oneFile = true;
    switch (layout) {
    case StereoLayout::Cross:
        plan.left = half(plan, EyeRegion::RightHalf);
        plan.right = half(plan, EyeRegion::LeftHalf);
        return;
    case StereoLayout::OverUnder:
        plan.left = half(plan, EyeRegion::TopHalf);
        plan.right = half(plan, EyeRegion::BottomHalf);
        return;
    default:
        plan.left = half(plan, EyeRegion::LeftHalf);
        plan.right = half(plan, EyeRegion::RightHalf);
        return;
    }
}

void findEyes(PairPlan &plan) {
    const PairJob &job = plan.job;
    if (job.layout == StereoLayout::Pair) {
        plan.inputs = {probeInput(job.leftFile), probeInput(job.rightFile)};
        plan.left = wholeFile(plan, 0);
        plan.right = wholeFile(plan, 1);
        return;
    }
    plan.inputs = {probeInput(job.leftFile)};
    if (job.layout != StereoLayout::FromFile)
        return cutInTwo(plan, job.layout);
    if (isJpsFile(job.leftFile))
        return cutInTwo(plan, StereoLayout::Cross);
    const MpoIndex &index = plan.inputs[0].mpo;
    if (index.kind == MpoIndex::Kind::Mpo && index.images.size() >= 2) {
        plan.left = mpoImage(plan, index.images[0]);
        plan.right = mpoImage(plan, index.images[1]);
    }
}

} // namespace

QSize PairPlan::jpegEyeSize(const EyeSource &eye) const {
    if (!eye.jpeg)
        return {};
    switch (eye.region) {
    case EyeRegion::Whole:
        return {eye.jpeg->width, eye.jpeg->height};
    case EyeRegion::LeftHalf:
    case EyeRegion::RightHalf:
        return {eye.jpeg->width / 2, eye.jpeg->height};
    case EyeRegion::TopHalf:
    case EyeRegion::BottomHalf:
        return {eye.jpeg->width, eye.jpeg->height / 2};
    }
    return {};
}

PairPlan probePair(const PairJob &job) {
    PairPlan plan;
    plan.job = job;
    findEyes(plan);
    if (job.settings.swap)
        std::swap(plan.left, plan.right);
    return plan;
}

QString pairPathName(PairPath path) {
    switch (path) {
    case PairPath::LosslessCopy:
        return QStringLiteral("lossless copy");
    case PairPath::BmpDirect:
        return QStringLiteral("direct BMP");
    case PairPath::JpegStreamed:
        return QStringLiteral("streamed JPEG");
    case PairPath::WholePictures:
        return QStringLiteral("whole pictures");
    }
    return {};
}

} // namespace duoptica
