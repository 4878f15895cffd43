#include "output_format.h"

#include <QStringList>

#include <array>

namespace duoptica {

namespace {

using namespace Qt::Literals::StringLiterals;

constexpr std::array kStereoOutputNames{
    StereoOutputName{"anaglyph"_L1, StereoOutput::Anaglyph, {}},
    StereoOutputName{"parallel"_L1, StereoOutput::Parallel,
                     "both eyes side by side at full size, the left eye on the left"_L1},
    StereoOutputName{"cross"_L1, StereoOutput::Cross,
                     "both eyes side by side at full size, the left eye on the right"_L1},
    StereoOutputName{"over-under"_L1, StereoOutput::OverUnder,
                     "both eyes at full size, the left eye on top"_L1},
    StereoOutputName{"half-parallel"_L1, StereoOutput::HalfParallel,
                     "a 3D TV frame of one eye's size: each eye squeezed to half its width"_L1},
    StereoOutputName{"half-over-under"_L1, StereoOutput::HalfOverUnder,
                     "a 3D TV frame: each eye squeezed to half its height, the left on top"_L1},
    StereoOutputName{"rows"_L1, StereoOutput::Rows,
                     "for passive 3D monitors: the left eye on the even rows (0, 2, ...)"_L1},
    StereoOutputName{"columns"_L1, StereoOutput::Columns,
                     "the left eye on the even columns, the right eye on the odd ones"_L1},
    StereoOutputName{"checkerboard"_L1, StereoOutput::Checkerboard,
                     "for DLP projectors: the left eye where x + y is even"_L1},
    StereoOutputName{"mpo"_L1, StereoOutput::Mpo,
                     "a multi-picture file of two JPEG images, as 3D cameras write\n"
                     "(also chosen by an OUTPUT ending in .mpo; --format mpo in a batch)"_L1},
    StereoOutputName{"jps"_L1, StereoOutput::Jps,
                     "a cross-eyed side-by-side JPEG (also by .jps; --format jps)"_L1},
    StereoOutputName{"pair"_L1, StereoOutput::Pair,
                     "two files, NAME_L.ext and NAME_R.ext, from OUTPUT's NAME.ext"_L1},
    StereoOutputName{"wiggle"_L1, StereoOutput::Wiggle,
                     "an animation showing the eyes in turn, for the web: OUTPUT .gif or\n"
                     ".webp (a batch writes gif, or webp with --format webp); the stereo\n"
                     "window stays still"_L1},
    StereoOutputName{"heic"_L1, StereoOutput::Heic,
                     "a stereo HEIC, as phones and headsets store spatial photos: both eyes as\n"
                     "HEVC images in a stereo group (also by .heic; --format heic)"_L1},
};

constexpr std::array kBmpExtensions{"bmp"_L1};
constexpr std::array kPngExtensions{"png"_L1};
constexpr std::array kJpegExtensions{"jpg"_L1, "jpeg"_L1};
constexpr std::array kMpoExtensions{"mpo"_L1};
constexpr std::array kJpsExtensions{"jps"_L1};
constexpr std::array kGifExtensions{"gif"_L1};
constexpr std::array kWebpExtensions{"webp"_L1};
constexpr std::array kHeicExtensions{"heic"_L1, "heif"_L1};

constexpr std::array kOutputFormats{
    OutputFormat{"bmp"_L1, kBmpExtensions, FileFormat::Bmp, FormatHolds::Picture, std::nullopt},
    OutputFormat{"png"_L1, kPngExtensions, FileFormat::Png, FormatHolds::Picture, std::nullopt},
    OutputFormat{"jpg"_L1, kJpegExtensions, FileFormat::Jpeg, FormatHolds::Picture, std::nullopt},
    OutputFormat{"mpo"_L1, kMpoExtensions, FileFormat::Jpeg, FormatHolds::TwoEyes,
                 StereoOutput::Mpo},
    OutputFormat{"jps"_L1, kJpsExtensions, FileFormat::Jpeg, FormatHolds::Picture,
                 StereoOutput::Jps},
    OutputFormat{"gif"_L1, kGifExtensions, FileFormat::Gif, FormatHolds::Animation, std::nullopt},
    OutputFormat{"webp"_L1, kWebpExtensions, FileFormat::Webp, FormatHolds::Animation,
                 std::nullopt},
    OutputFormat{"heic"_L1, kHeicExtensions, FileFormat::Heic, FormatHolds::TwoEyes,
                 StereoOutput::Heic},
};

} // namespace

std::span<const StereoOutputName> stereoOutputNames() {
    return kStereoOutputNames;
}

std::optional<StereoOutput> stereoOutputNamed(const QString &name) {
    for (const StereoOutputName &entry : kStereoOutputNames)
        if (name.compare(entry.name, Qt::CaseInsensitive) == 0)
            return entry.output;
    return std::nullopt;
}

std::span<const OutputFormat> outputFormats() {
    return kOutputFormats;
}

const OutputFormat *outputFormatForExtension(const QString &extension) {
    for (const OutputFormat &format : kOutputFormats)
        for (QLatin1StringView known : format.extensions)
            if (extension.compare(known, Qt::CaseInsensitive) == 0)
                return &format;
    return nullptr;
}

const OutputFormat *outputFormatNamed(const QString &name) {
    // "jpeg" names the JPEG format as well as "jpg" does.
    return outputFormatForExtension(name);
}

QString outputFormatList(const QString &conjunction) {
    QStringList names;
    for (const OutputFormat &format : kOutputFormats)
        names << format.name;
    const QString last = names.takeLast();
    return names.join(u", "_s) + u' ' + conjunction + u' ' + last;
}

QLatin1StringView extensionOf(FileFormat format) {
    switch (format) {
    case FileFormat::Bmp:
        return "bmp"_L1;
    case FileFormat::Png:
        return "png"_L1;
    case FileFormat::Jpeg:
        return "jpg"_L1;
    case FileFormat::Gif:
        return "gif"_L1;
    case FileFormat::Webp:
        return "webp"_L1;
    case FileFormat::Heic:
        return "heic"_L1;
    }
    return {};
}

QByteArray qtFormatName(FileFormat format) {
    return QByteArray(extensionOf(format).data(), extensionOf(format).size());
}

} // namespace duoptica
