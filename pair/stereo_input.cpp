#include "stereo_input.h"

#include "camera_exif.h"
#include "embedded_eyes.h"
#include "heic_load.h"
#include "mpo_index.h"
#include "picture_file.h"
#include "resize_stage.h"

#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QtConcurrentRun>

namespace duoptica {

namespace {

// Whole pictures, and PNG, TIFF and WebP as well as what the window reads.
LoadLimits toolLimits(const PairJob &job) {
    return {.visibleArea = {},
            .maxPixels = job.settings.maxPixels,
            .acceptPng = true,
            .acceptTiffAndWebp = true};
}

// The same, JPEG eyes decoded smaller when --resize or --max-size shrinks them and no stage
// before the resize looks at their full-size pixels.
LoadLimits eyeLimits(const PairJob &job) {
    LoadLimits limits = toolLimits(job);
    const PairSettings &settings = job.settings;
    if (settings.adjust.size && !settings.align && !settings.windowShift &&
        !settings.adjust.matchColors)
        limits.shrinkTarget = [size = *settings.adjust.size](QSize upright) {
            return sizedEye(upright, size);
        };
    return limits;
}

// Whether two eyes decoded for eyeLimits() can go on as they are: both decoded smaller from
// pictures of one size, or neither. Otherwise they are read again whole, so that the size check
// sees and names the sizes in the files.
bool scaledAlike(const PictureLoad &left, const PictureLoad &right) {
    return left.fullSize == right.fullSize;
}

Outcome unreadable(const QString &file, const QString &reason) {
    return {ExitCode::UnreadableInput,
            QStringLiteral("%1: cannot read: %2")
                .arg(file, reason.isEmpty() ? QStringLiteral("no picture in the file") : reason)};
}

QImage upright(PictureLoad &load) {
    return UprightPicture(std::move(load.picture), load.orientation);
}

// The upright picture at the camera's resolution, and the camera's EXIF block into *exif.
QImage cameraPicture(PictureLoad &load, QByteArrayView head, QByteArray *exif) {
    QImage picture = upright(load);
    ApplyCameraResolution(picture, head);
    *exif = ExifOfJpeg(head);
    return picture;
}

// A picture file, or a HEIF file's primary image (a stereo one's left eye) with its EXIF.
struct ToolPicture {
    PictureLoad load;
    std::optional<QByteArray> heicExif; // set for a HEIF file
    bool stereoHeic = false;
};

ToolPicture loadToolPicture(const PairJob &job, const QString &file, const LoadLimits &limits) {
    if (!IsHeicFile(file))
        return {LoadPicture(file, limits), std::nullopt};
    HeicLoad heic = LoadHeicPictures(file, toolLimits(job));
    return {{std::move(heic.left.picture), heic.error}, heic.left.exif, heic.stereo};
}

// The upright picture and the camera's EXIF block into *exif, from a JPEG's head or a HEIF item.
QImage cameraPicture(ToolPicture &loaded, const QString &file, QByteArray *exif) {
    if (!loaded.heicExif)
        return cameraPicture(loaded.load, FileHead(file), exif);
    *exif = *loaded.heicExif;
    return std::move(loaded.load.picture);
}

bool startsAsJpeg(const QString &file) {
    QFile input(file);
    return input.open(QIODevice::ReadOnly) && input.read(2) == QByteArrayView("\xFF\xD8", 2);
}

// The eye brought to the size the sizing stage gives it, when it was decoded smaller; false when
// memory runs out.
bool sizedNow(const PairJob &job, ToolPicture &eye) {
    if (eye.load.fullSize.isEmpty() || eye.load.picture.isNull())
        return true;
    QImage &picture = eye.load.picture;
    QImage sized = UprightPicture(std::move(picture), eye.load.orientation);
    eye.load.orientation = QImageIOHandler::TransformationNone;
    const bool fits = resizeEyeTo(sized, sizedEye(eye.load.fullSize, *job.settings.adjust.size));
    picture = std::move(sized);
    return fits;
}

EyePictures readPairFiles(const PairJob &job, Threads threads, const LoadLimits &limits) {
    // Eyes that decode smaller are sized as soon as they are decoded, as the sizing stage would
    // size them, unless --window auto is to measure them first as decoded. Each is shrunk as its
    // rows are decoded, so that a pair sized down never holds an eye at its decoded size; an eye
    // turned by its EXIF is shrunk as stored and turned once small.
    const bool sizedAsDecoded = limits.shrinkTarget && !job.settings.windowAtNearest &&
                                startsAsJpeg(job.leftFile) && startsAsJpeg(job.rightFile);
    LoadLimits eyeLimits = limits;
    eyeLimits.shrinkWhileDecoding = sizedAsDecoded;
    const auto load = [&job, &eyeLimits, sizedAsDecoded](const QString &file, ToolPicture &eye) {
        eye = loadToolPicture(job, file, eyeLimits);
        return !sizedAsDecoded || sizedNow(job, eye);
    };
    ToolPicture left;
    ToolPicture right;
    bool leftFits = true;
    bool rightFits = true;
    if (threads == Threads::All) {
        // Decoding is most of the work for large pictures: read both at once.
        QFuture<void> rightLoad =
            QtConcurrent::run([&] { rightFits = load(job.rightFile, right); });
        leftFits = load(job.leftFile, left);
        rightLoad.waitForFinished();
    } else {
        leftFits = load(job.leftFile, left);
        rightFits = load(job.rightFile, right);
    }
    if (!leftFits || !rightFits)
        return {{},
                {},
                job.leftFile,
                job.rightFile,
                {ExitCode::UnreadableInput,
                 QStringLiteral("%1: not enough memory to resize the pictures").arg(job.leftFile)},
                {},
                {}};
    if (!scaledAlike(left.load, right.load))
        return readPairFiles(job, threads, toolLimits(job));
    EyePictures eyes{{}, {}, job.leftFile, job.rightFile, {}, {}, {}};
    eyes.fullSize = left.load.fullSize;
    if (left.load.picture.isNull())
        eyes.failure = unreadable(job.leftFile, left.load.error);
    else if (right.load.picture.isNull())
        eyes.failure = unreadable(job.rightFile, right.load.error);
    else {
        eyes.left = cameraPicture(left, job.leftFile, &eyes.leftExif);
        eyes.right = cameraPicture(right, job.rightFile, &eyes.rightExif);
    }
    return eyes;
}

EyePictures readOnePicture(const PairJob &job, const QString &file, StereoLayout layout) {
    // Cut in two, an MPO would give half its first image as each eye and lose its second.
    if (!isJpsFile(file) && IsMpoFile(file))
        return {{},
                {},
                file,
                file,
                {ExitCode::Usage,
                 QStringLiteral("%1: an MPO holds each eye as an image of its own; give it "
                                "without --layout")
                     .arg(file)},
                {},
                {}};
    ToolPicture load = loadToolPicture(job, file, toolLimits(job));
    if (load.stereoHeic)
        return {{},
                {},
                file,
                file,
                {ExitCode::Usage,
                 QStringLiteral("%1: a stereo HEIC holds each eye as an image of its own; give "
                                "it without --layout")
                     .arg(file)},
                {},
                {}};
    if (load.load.picture.isNull())
        return {{}, {}, file, file, unreadable(file, load.load.error), {}, {}};
    QByteArray exif;
    const QImage picture = cameraPicture(load, file, &exif);
    EyePictures eyes = cutIntoEyes(picture, layout);
    eyes.leftExif = exif;
    eyes.rightExif = exif;
    if (eyes.left.isNull())
        eyes.failure = unreadable(file, QStringLiteral("%1x%2 is too small to hold two eyes")
                                            .arg(picture.width())
                                            .arg(picture.height()));
    const bool sideBySide = layout != StereoLayout::OverUnder;
    const bool leftFirst = layout != StereoLayout::Cross;
    const QString first = sideBySide ? QStringLiteral("left half") : QStringLiteral("top half");
    const QString second =
        sideBySide ? QStringLiteral("right half") : QStringLiteral("bottom half");
    eyes.leftName = QStringLiteral("%1 (%2)").arg(file, leftFirst ? first : second);
    eyes.rightName = QStringLiteral("%1 (%2)").arg(file, leftFirst ? second : first);
    return eyes;
}

EyePictures readStereoHeic(const PairJob &job, const QString &file) {
    HeicLoad load = LoadHeicPictures(file, toolLimits(job));
    EyePictures eyes{
        {}, {}, file + QStringLiteral(" (left eye)"), file + QStringLiteral(" (right eye)"), {},
        {}, {}};
    if (!load.error.isEmpty())
        eyes.failure = unreadable(file, load.error);
    else if (!load.stereo)
        eyes.failure = {ExitCode::Usage,
                        QStringLiteral("%1: a HEIF file without a stereo group; for one picture "
                                       "holding both eyes give --layout parallel, cross or "
                                       "over-under (see --help)")
                            .arg(file)};
    else {
        eyes.left = std::move(load.left.picture);
        eyes.right = std::move(load.right.picture);
        eyes.leftExif = std::move(load.left.exif);
        eyes.rightExif = std::move(load.right.exif);
    }
    return eyes;
}

// A JPEG hiding its eyes (LIF, extended XMP): none when it hides none.
std::optional<EyePictures> readEmbeddedEyes(const PairJob &job, const QString &file) {
    QFile input(file);
    if (!input.open(QIODevice::ReadOnly) || input.size() > kMaxMpoBytes)
        return std::nullopt;
    const EmbeddedEyes found = FindEmbeddedEyes(input.readAll());
    if (found.kind == EmbeddedEyes::Kind::None)
        return std::nullopt;
    EyePictures eyes{
        {}, {}, file + QStringLiteral(" (left view)"), file + QStringLiteral(" (right view)"), {},
        {}, {}};
    if (!found.error.isEmpty()) {
        eyes.failure = unreadable(file, found.error);
        return eyes;
    }
    PictureLoad left = LoadPictureBytes(found.left, toolLimits(job));
    PictureLoad right = LoadPictureBytes(found.right, toolLimits(job));
    if (left.picture.isNull())
        eyes.failure = unreadable(eyes.leftName, left.error);
    else if (right.picture.isNull())
        eyes.failure = unreadable(eyes.rightName, right.error);
    else {
        eyes.left = cameraPicture(left, found.left, &eyes.leftExif);
        eyes.right = cameraPicture(right, found.right, &eyes.rightExif);
        // Holopix files keep the 2D photo at twice the size of the views: it is brought to
        // theirs by area averaging, as --resize shrinks, while a picture of another multiple
        // or shape is not.
        const QSize size = eyes.right.size();
        for (int times : {2, 3, 4})
            if (!size.isEmpty() && eyes.left.size() == size * times &&
                !resizeEyeTo(eyes.left, size))
                eyes.failure = unreadable(eyes.leftName, QStringLiteral("not enough memory"));
    }
    return eyes;
}

EyePictures readFromFile(const PairJob &job, Threads threads, const LoadLimits &limits) {
    const QString &file = job.leftFile;
    if (isJpsFile(file))
        return readOnePicture(job, file, StereoLayout::Cross);
    if (IsHeicFile(file))
        return readStereoHeic(job, file);
    StereoPictureLoad load = LoadMpoPictures(file, limits, threads == Threads::All);
    if (load.error.isEmpty() && !scaledAlike(load.left, load.right))
        return readFromFile(job, threads, toolLimits(job));
    EyePictures eyes{
        {}, {}, file + QStringLiteral(" (image 1)"), file + QStringLiteral(" (image 2)"), {},
        {}, {}};
    if (!load.error.isEmpty())
        eyes.failure = unreadable(file, load.error);
    else if (std::optional<EyePictures> embedded =
                 load.isMpo ? std::nullopt : readEmbeddedEyes(job, file))
        return *embedded;
    else if (!load.isMpo)
        eyes.failure = {ExitCode::Usage,
                        QStringLiteral("%1: not an MPO file; for one picture holding both eyes "
                                       "give --layout parallel, cross or over-under (see --help)")
                            .arg(file)};
    else {
        eyes.fullSize = load.left.fullSize;
        eyes.left = cameraPicture(load.left, load.leftHead, &eyes.leftExif);
        eyes.right = cameraPicture(load.right, load.rightHead, &eyes.rightExif);
    }
    return eyes;
}

} // namespace

EyePictures cutIntoEyes(const QImage &picture, StereoLayout layout) {
    const int halfWidth = picture.width() / 2;
    const int halfHeight = picture.height() / 2;
    EyePictures eyes;
    switch (layout) {
    case StereoLayout::Parallel:
    case StereoLayout::Cross:
        if (halfWidth == 0)
            return eyes;
        eyes.left = picture.copy(0, 0, halfWidth, picture.height());
        eyes.right = picture.copy(halfWidth, 0, halfWidth, picture.height());
        if (layout == StereoLayout::Cross)
            std::swap(eyes.left, eyes.right);
        return eyes;
    case StereoLayout::OverUnder:
        if (halfHeight == 0)
            return eyes;
        eyes.left = picture.copy(0, 0, picture.width(), halfHeight);
        eyes.right = picture.copy(0, halfHeight, picture.width(), halfHeight);
        return eyes;
    case StereoLayout::Pair:
    case StereoLayout::FromFile:
        return eyes;
    }
    return eyes;
}

bool isJpsFile(const QString &file) {
    return QFileInfo(file).suffix().compare(u"jps", Qt::CaseInsensitive) == 0;
}

EyePictures readEyes(const PairJob &job, Threads threads) {
    switch (job.layout) {
    case StereoLayout::Pair:
        return readPairFiles(job, threads, eyeLimits(job));
    case StereoLayout::FromFile:
        return readFromFile(job, threads, eyeLimits(job));
    case StereoLayout::Parallel:
    case StereoLayout::Cross:
    case StereoLayout::OverUnder:
        return readOnePicture(job, job.leftFile, job.layout);
    }
    return {};
}

} // namespace duoptica
