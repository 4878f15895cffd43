#include "lossless_copy.h"

#include "camera_exif.h"
#include "mpo_file.h"
#include "picture_file.h"

#include <QFile>
#include <QFileInfo>

namespace duoptica {

namespace {

// Whole files only: the copy holds both eyes' bytes, and an MPO of a 50-megapixel camera is
// well under this.
constexpr qint64 kMaxInputBytes = qint64(1) << 30;

// The eye's JPEG as stored: a whole file, or one image of an MPO.
QByteArray eyeBytes(const PairPlan &plan, const EyeSource &eye) {
    const ProbedInput &input = plan.inputOf(eye);
    QFile file(input.file);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    if (!eye.mpoImage)
        return file.readAll();
    if (!file.seek(eye.mpoImage->offset))
        return {};
    const QByteArray image = file.read(eye.mpoImage->size);
    return image.size() == eye.mpoImage->size ? image : QByteArray();
}

bool isUprightJpeg(const EyeSource &eye) {
    return eye.region == EyeRegion::Whole && eye.jpeg && eye.jpeg->upright;
}

// The JPEG without its APP2 "MPF" segments, which describe the file it came from.
QByteArray withoutMpf(QByteArrayView jpeg) {
    QByteArray copy;
    copy.reserve(jpeg.size());
    copy.append(jpeg.first(2));
    qsizetype at = 2;
    while (at + 4 <= jpeg.size() && quint8(jpeg[at]) == 0xFF && quint8(jpeg[at + 1]) != 0xDA) {
        const qsizetype length = quint8(jpeg[at + 2]) << 8 | quint8(jpeg[at + 3]);
        if (length < 2 || at + 2 + length > jpeg.size())
            break;
        const bool mpf = quint8(jpeg[at + 1]) == 0xE2 &&
                         jpeg.sliced(at + 4).startsWith(QByteArrayView("MPF\0", 4));
        if (!mpf)
            copy.append(jpeg.sliced(at, 2 + length));
        at += 2 + length;
    }
    copy.append(jpeg.sliced(at));
    return copy;
}

} // namespace

bool acceptsLosslessCopy(const PairPlan &plan, QString *whyNot) {
    const PairSettings &asked = plan.job.settings;
    const bool toMpo = asked.to == StereoOutput::Mpo;
    const bool toJpegPair = asked.to == StereoOutput::Pair && asked.format == FileFormat::Jpeg;
    if (!toMpo && !toJpegPair) {
        *whyNot = QStringLiteral("the output is no MPO or pair of JPEG files");
        return false;
    }
    if (asked.align || asked.movesTheWindow() || asked.adjust.any() || asked.fit) {
        *whyNot = QStringLiteral("a stage changes the pixels");
        return false;
    }
    for (const ProbedInput &input : plan.inputs)
        if (!input.regular || input.size > kMaxInputBytes) {
            *whyNot = QStringLiteral("an input is no regular file of at most 1 GiB");
            return false;
        }
    // The whole-picture path tells what is wrong with eyes of two sizes, or a damaged file.
    if (!isUprightJpeg(plan.left) || !isUprightJpeg(plan.right) ||
        plan.jpegEyeSize(plan.left) != plan.jpegEyeSize(plan.right)) {
        *whyNot = QStringLiteral("the eyes are not upright JPEGs of one size");
        return false;
    }
    return true;
}

std::optional<Outcome> runLosslessCopy(const PairPlan &plan, Threads) {
    QByteArray left = eyeBytes(plan, plan.left);
    QByteArray right = eyeBytes(plan, plan.right);
    // The files changed since they were probed.
    if (left.size() < 4 || right.size() < 4)
        return std::nullopt;
    // The eyes keep their geometry: an MPO's convergence and baseline hold for the copy.
    const MpStereoGeometry geometry = plan.left.mpoImage
                                          ? mpStereoGeometry(plan.job.settings.swap ? left : right)
                                          : MpStereoGeometry{};
    // Every image the tool writes starts with EXIF, as a camera's do.
    left = JpegWithExifFirst(withoutMpf(left), plan.jpegEyeSize(plan.left));
    right = JpegWithExifFirst(withoutMpf(right), plan.jpegEyeSize(plan.right));
    QString failedFile;
    QString error;
    if (plan.job.settings.to == StereoOutput::Mpo) {
        const QByteArray mpo = multiPictureFile(left, right, geometry);
        if (mpo.isEmpty())
            return std::nullopt;
        error = SaveFiles({{plan.job.outputFile, mpo}}, &failedFile);
    } else {
        const QStringList names = outputFilesOf(plan.job);
        error = SaveFiles({{names[0], left}, {names[1], right}}, &failedFile);
    }
    if (!error.isEmpty())
        return cannotWrite(failedFile, error);
    return Outcome();
}

} // namespace duoptica
