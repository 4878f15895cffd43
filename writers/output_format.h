// What the tool can write, in one place: the stereo outputs a job asks for (--to), the file
// formats they are written in, and the one registry of output formats that the command line, the
// pair paths, the batch and the shell completion all read.
#pragma once

#include <QByteArray>
#include <QLatin1StringView>
#include <QString>

#include <optional>
#include <span>

namespace duoptica {

// What a job writes: one combined picture (an anaglyph or an average, by its mode), or the two
// eyes packed for a stereo viewer.
enum class StereoOutput {
    Anaglyph,
    Parallel, // both eyes at full size, as the layouts of the same names read them
    Cross,
    OverUnder,
    HalfParallel,  // each eye squeezed to half its width: the frame has one eye's size
    HalfOverUnder, // each eye squeezed to half its height
    Rows,          // the left eye on the even rows (counting from 0), the right on the odd
    Columns,       // the left eye on the even columns
    Checkerboard,  // the left eye where x + y is even
    Mpo,           // a multi-picture file of two JPEG images
    Jps,           // a cross-eyed side-by-side JPEG
    Pair,          // two files, NAME_L.ext and NAME_R.ext
    Wiggle,        // an animation showing the eyes in turn: GIF or WebP
    Heic,          // a HEIF file of two HEVC images in a stereo group, as phones write
};

struct StereoOutputName {
    QLatin1StringView name; // as --to takes it
    StereoOutput output;
    QLatin1StringView help; // one line for --help
};

// Every --to value, in the order --help lists them.
std::span<const StereoOutputName> stereoOutputNames();

// The output named, in any case; nothing for an unknown name.
std::optional<StereoOutput> stereoOutputNamed(const QString &name);

// How the bytes of an output file are encoded.
enum class FileFormat { Bmp, Png, Jpeg, Gif, Webp, Heic };

// What an output format holds.
enum class FormatHolds {
    Picture,   // one picture: the combined one or both eyes packed into one
    TwoEyes,   // both eyes as images of their own, in one file (MPO, HEIC)
    Animation, // the eyes shown in turn (a wiggle)
};

struct OutputFormat {
    QLatin1StringView name;                        // as --format takes it, and a batch's extension
    std::span<const QLatin1StringView> extensions; // of an OUTPUT that asks for it, any case
    FileFormat file;
    FormatHolds holds;
    // The stereo output the format stands for (an .mpo is an MPO, a .jps a JPS), if any.
    std::optional<StereoOutput> impliedOutput;
};

// Every output format, in the order --help lists them.
std::span<const OutputFormat> outputFormats();

// The format an extension (without its dot) or a --format name asks for; none when unknown.
const OutputFormat *outputFormatForExtension(const QString &extension);
const OutputFormat *outputFormatNamed(const QString &name);

// The registry's formats of one kind, their names joined as --help and messages list them
// ("bmp, png, jpg, mpo, jps, gif or webp").
QString outputFormatList(const QString &conjunction = QStringLiteral("or"));

// The extension a batch gives its outputs, and the name Qt's writers know the format by.
QLatin1StringView extensionOf(FileFormat format);
QByteArray qtFormatName(FileFormat format);

} // namespace duoptica
