// duoptica-combine --to: the eyes written for stereo viewers, read back as a viewer or another
// program would read them.
#include "file_size_limit.h"
#include "general_path.h"
#include "heif_boxes.h"
#include "mpo_index.h"
#include "pair_paths.h"
#include "picture_fixtures.h"
#include "picture_writer.h"
#include "png_parallel_output.h"
#include "run_program.h"
#include "synthetic_stereo.h"

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>

#include <cmath>

namespace {

ProgramRun runTool(const QStringList &arguments) {
    return runProgram(QStringLiteral(DUOPTICA_COMBINE), arguments);
}

// Eyes whose neighbouring pixels differ, so a dropped, shifted or swapped line shows.
QImage leftEye(QSize size) {
    return fixtures::patternPicture(size, 200);
}
QImage rightEye(QSize size) {
    return fixtures::patternPicture(size, 200).mirrored(true, false);
}

// The reference squeeze: each output pixel the mean of the two it covers.
QImage halved(const QImage &eye, bool width) {
    const QSize size =
        width ? QSize(eye.width() / 2, eye.height()) : QSize(eye.width(), eye.height() / 2);
    QImage half(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const QRgb a = eye.pixel(width ? 2 * x : x, width ? y : 2 * y);
            const QRgb b = eye.pixel(width ? 2 * x + 1 : x, width ? y : 2 * y + 1);
            half.setPixel(x, y,
                          qRgb((qRed(a) + qRed(b) + 1) / 2, (qGreen(a) + qGreen(b) + 1) / 2,
                               (qBlue(a) + qBlue(b) + 1) / 2));
        }
    return half;
}

QString exiftool() {
    return QStandardPaths::findExecutable(QStringLiteral("exiftool"));
}

// What exiftool reads in a file, by group and name ("IFD0:Make"), numbers as numbers.
QJsonObject exifTags(const QString &file) {
    const ProgramRun run = runProgram(exiftool(), {"-j", "-a", "-G1", "-n", file});
    return QJsonDocument::fromJson(run.out).array().at(0).toObject();
}

// A JPEG from its first scan marker to the end: the entropy-coded data, which a new encoding of
// the same pixels would change.
QByteArray entropyCodedData(const QByteArray &jpeg) {
    return jpeg.mid(jpeg.indexOf("\xFF\xDA"));
}

// Each image of an MPO, or the file itself for a JPEG.
QList<QByteArray> imagesOf(const QByteArray &file) {
    const duoptica::MpoIndex index = duoptica::ReadMpoIndex(file);
    if (index.kind != duoptica::MpoIndex::Kind::Mpo)
        return {file};
    QList<QByteArray> images;
    for (const duoptica::ByteRange &range : index.images)
        images << file.sliced(range.offset, range.size);
    return images;
}

// The sampling factors of each component in a JPEG's frame header, as "11 11 11" for 4:4:4.
QString chromaSampling(const QByteArray &jpeg) {
    // The frame header among the segments, not one inside the EXIF's thumbnail.
    qsizetype frame = 2;
    while (frame + 10 <= jpeg.size() && quint8(jpeg[frame]) == 0xFF &&
           quint8(jpeg[frame + 1]) != 0xC0)
        frame += 2 + (quint8(jpeg[frame + 2]) << 8 | quint8(jpeg[frame + 3]));
    if (frame + 10 > jpeg.size() || quint8(jpeg[frame + 1]) != 0xC0)
        return {};
    QStringList factors;
    for (int i = 0; i < quint8(jpeg[frame + 9]) && frame + 12 + 3 * i <= jpeg.size(); ++i)
        factors << QString::number(quint8(jpeg[frame + 11 + 3 * i]), 16);
    return factors.join(u' ');
}

// The images of a GIF and how many of them bring a colour table of their own; -1 for a file that
// does not parse or has no global table.
struct GifTables {
    int images = -1;
    int localTables = 0;
};
GifTables gifTables(const QByteArray &gif) {
    const auto byte = [&](qsizetype at) { return at < gif.size() ? quint8(gif[at]) : 0; };
    const auto table = [](quint8 flags) { return flags & 0x80 ? 3 << ((flags & 7) + 1) : 0; };
    if (!gif.startsWith("GIF8") || !(byte(10) & 0x80))
        return {};
    const auto skipBlocks = [&](qsizetype at) {
        while (at < gif.size() && byte(at) != 0)
            at += 1 + byte(at);
        return at + 1;
    };
    GifTables tables{0, 0};
    for (qsizetype at = 13 + table(byte(10)); at < gif.size();) {
        if (byte(at) == 0x21) {
            at = skipBlocks(at + 2);
        } else if (byte(at) == 0x2C) {
            ++tables.images;
            tables.localTables += byte(at + 9) & 0x80 ? 1 : 0;
            at = skipBlocks(at + 10 + table(byte(at + 9)) + 1);
        } else {
            return byte(at) == 0x3B ? tables : GifTables{};
        }
    }
    return {};
}

// The peak signal-to-noise ratio of b against a, all three channels, in dB.
double psnr(const QImage &a, const QImage &b) {
    double squares = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            for (const int d : {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q)})
                squares += double(d) * d;
        }
    const double mean = squares / (3.0 * a.width() * a.height());
    return mean == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mean);
}

// The names of a JPEG's APPn segments in order, up to its first scan: the start of each payload
// up to its first zero byte ("Exif", "JFIF", "MPF", "ICC_PROFILE").
QStringList appSegments(const QByteArray &jpeg) {
    QStringList names;
    for (qsizetype at = 2; at + 4 <= jpeg.size() && quint8(jpeg[at]) == 0xFF;) {
        const quint8 marker = quint8(jpeg[at + 1]);
        const qsizetype length = quint8(jpeg[at + 2]) << 8 | quint8(jpeg[at + 3]);
        if (marker == 0xDA || length < 2)
            break;
        if (marker >= 0xE0 && marker <= 0xEF)
            names << QString::fromLatin1(jpeg.mid(at + 4, length - 2).split('\0').first());
        at += 2 + length;
    }
    return names;
}

// A camera's JPEG whose EXIF (orientation 1) follows its JFIF segment, as some programs write it.
QByteArray jpegWithExifAfterJfif(const QImage &picture) {
    const QByteArray withExif = fixtures::jpegWithOrientation(picture, 1);
    const qsizetype exifLength = 2 + (quint8(withExif[4]) << 8 | quint8(withExif[5]));
    const QByteArray plain = fixtures::jpegBytes(picture);
    const qsizetype jfifEnd = 4 + (quint8(plain[4]) << 8 | quint8(plain[5]));
    return plain.first(jfifEnd) + withExif.mid(2, exifLength) + plain.mid(jfifEnd);
}

// The JPEG with the convergence angle and baseline length of its MP attribute IFD (little-endian,
// as the tool writes it) set to the rationals given.
QByteArray withMpGeometry(QByteArray jpeg, std::array<quint32, 4> values) {
    const qsizetype header = jpeg.indexOf(QByteArray("MPF\0II*\0", 8)) + 4;
    const qsizetype field = jpeg.indexOf(QByteArray("\x05\xB2\x0A\x00\x01\x00\x00\x00", 8));
    if (header < 4 || field < 0)
        return {};
    const qsizetype at = header + qFromLittleEndian<quint32>(jpeg.constData() + field + 8);
    for (std::size_t i = 0; i < values.size(); ++i)
        qToLittleEndian(values[i], jpeg.data() + at + 4 * qsizetype(i));
    return jpeg;
}

// A little-endian EXIF payload of a stereo camera whose maker note holds a parallax: a Fujifilm
// W3's (tag 0xB211, 3/2) or a Nintendo 3DS's (-44.8 in its CameraInfo block).
QByteArray stereoCameraExif(bool nintendo) {
    QByteArray tiff("II*\0\x08\0\0\0", 8);
    const auto put = [&](quint32 value, int size) {
        for (int i = 0; i < size; ++i)
            tiff.append(char(value >> (8 * i) & 0xFF));
    };
    const auto field = [&](quint16 tag, quint16 type, quint32 count, quint32 value) {
        put(tag, 2), put(type, 2), put(count, 4), put(value, 4);
    };
    // IFD0 at 8: Make and the EXIF IFD; the make at 38, the EXIF IFD at 48, the maker note at 66.
    put(2, 2);
    field(0x010F, 2, 9, 38);
    field(0x8769, 4, 1, 48);
    put(0, 4);
    tiff.append(nintendo ? "Nintendo" : "FUJIFILM").append('\0').append('\0');
    QByteArray note;
    if (nintendo) {
        // An IFD of one field whose block follows it, its offset counted from the TIFF header.
        QByteArray block(0x34, '\0');
        block.replace(0, 4, "3DS1");
        const float parallax = -44.8f;
        std::memcpy(block.data() + 0x28, &parallax, 4);
        note = QByteArray("\x01\x00\x01\x11\x07\x00\x34\x00\x00\x00", 10);
        note.append(char(66 + 18)).append(QByteArray(3, '\0')).append(QByteArray(4, '\0'));
        note += block;
    } else {
        // "FUJIFILM", its IFD at 12, one field whose value, at 30, is 3/2.
        note = QByteArray("FUJIFILM\x0C\0\0\0\x01\x00\x11\xB2\x0A\x00\x01\0\0\0\x1E\0\0\0"
                          "\0\0\0\0\x03\0\0\0\x02\0\0\0",
                          38);
    }
    put(1, 2);
    field(0x927C, 7, quint32(note.size()), 66);
    put(0, 4);
    return QByteArray("Exif\0\0", 6) + tiff + note;
}

} // namespace

Q_DECLARE_METATYPE(duoptica::StereoOutput)

class StereoOutputsTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void fullSizeLayoutsReadBackAsTheEyes_data();
    void fullSizeLayoutsReadBackAsTheEyes();
    void halfFormatsSqueezeEachEyeByAreaNotByDroppingLines_data();
    void halfFormatsSqueezeEachEyeByAreaNotByDroppingLines();
    void interleavedFormatsTakeEachEyeByParity_data();
    void interleavedFormatsTakeEachEyeByParity();
    void mpoReadsBackHereAndInExiftool();
    void heicReadsBackHereInHeifInfoAndExiftool();
    void jpegOutputsKeepTheCamerasExifMadeUpright_data();
    void jpegOutputsKeepTheCamerasExifMadeUpright();
    void losslessOutputsCopyTheEntropyCodedData_data();
    void losslessOutputsCopyTheEntropyCodedData();
    void alignedCameraFileGivesCroppedStereoOutputs_data();
    void alignedCameraFileGivesCroppedStereoOutputs();
    void wiggleGifOfAPhotographSharesOneQuantisedPalette();
    void wigglesOfAdobeRgbEyesAreInSrgb_data();
    void wigglesOfAdobeRgbEyesAreInSrgb();
    void mpoKeepsTheCamerasGeometryOnlyWhileItHolds_data();
    void mpoKeepsTheCamerasGeometryOnlyWhileItHolds();
    void makerNoteParallaxIsClearedOncePixelsMove_data();
    void makerNoteParallaxIsClearedOncePixelsMove();
    void thumbnailShowsTheImagesOwnPixels_data();
    void thumbnailShowsTheImagesOwnPixels();
    void everyJpegImageStartsWithExif_data();
    void everyJpegImageStartsWithExif();
    void jpegChromaIsWholeForAnaglyphsAndHighQualities_data();
    void jpegChromaIsWholeForAnaglyphsAndHighQualities();
    void wiggleAlternatesTheEyes_data();
    void wiggleAlternatesTheEyes();
    void streamsOutputsIntoTheWholePicturesBytes_data();
    void streamsOutputsIntoTheWholePicturesBytes();
    void pairThatCannotBeWrittenLeavesTheFolderAsItWas_data();
    void pairThatCannotBeWrittenLeavesTheFolderAsItWas();
    void pngFedInBandsReadsBackAsThePicture_data();
    void pngFedInBandsReadsBackAsThePicture();
    void batchWritesStereoFormats_data();
    void batchWritesStereoFormats();
    void fitMakesAFrameOfExactlyTheSizeAsked_data();
    void fitMakesAFrameOfExactlyTheSizeAsked();

private:
    QString path(const QString &name) const { return dir_->filePath(name); }
    // Writes the two eyes as left.png and right.png and gives their paths.
    QStringList makeEyes(QSize size);
    std::unique_ptr<QTemporaryDir> dir_;
};

void StereoOutputsTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

QStringList StereoOutputsTest::makeEyes(QSize size) {
    return {fixtures::makeFile(dir_->path(), "left.png", fixtures::pngBytes(leftEye(size))),
            fixtures::makeFile(dir_->path(), "right.png", fixtures::pngBytes(rightEye(size)))};
}

void StereoOutputsTest::fullSizeLayoutsReadBackAsTheEyes_data() {
    QTest::addColumn<QString>("layout"); // --to when written, --layout when read back
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("shift"); // the window shift the options ask for
    QTest::addColumn<bool>("swapped");
    QTest::newRow("parallel, odd width, png")
        << "parallel" << QStringList() << "out.png" << 0 << false;
    QTest::newRow("cross, bmp") << "cross" << QStringList() << "out.bmp" << 0 << false;
    QTest::newRow("over-under, png") << "over-under" << QStringList() << "out.png" << 0 << false;
    QTest::newRow("parallel swapped")
        << "parallel" << QStringList{"--swap"} << "out.png" << 0 << true;
    QTest::newRow("window 3 without align")
        << "parallel" << QStringList{"--window", "3"} << "out.png" << 3 << false;
    QTest::newRow("window -4 without align, over-under")
        << "over-under" << QStringList{"--window=-4"} << "out.bmp" << -4 << false;
}

void StereoOutputsTest::fullSizeLayoutsReadBackAsTheEyes() {
    QFETCH(QString, layout);
    QFETCH(QStringList, options);
    QFETCH(QString, output);
    QFETCH(int, shift);
    QFETCH(bool, swapped);
    const QSize size(31, 20);
    const QStringList eyes = makeEyes(size);

    const ProgramRun written =
        runTool(options + QStringList{"--to", layout} + eyes + QStringList{path(output)});
    QCOMPARE(written.exitCode, 0);
    const ProgramRun read =
        runTool({"--layout", layout, "--to", "pair", path(output), path("back.png")});
    QCOMPARE(read.exitCode, 0);

    QImage left = leftEye(size);
    QImage right = rightEye(size);
    if (swapped)
        std::swap(left, right);
    const int width = size.width() - std::abs(shift);
    left = left.copy(std::max(shift, 0), 0, width, size.height());
    right = right.copy(std::max(-shift, 0), 0, width, size.height());
    QCOMPARE(QImage(path("back_L.png")).convertToFormat(QImage::Format_RGB32), left);
    QCOMPARE(QImage(path("back_R.png")).convertToFormat(QImage::Format_RGB32), right);
}

void StereoOutputsTest::halfFormatsSqueezeEachEyeByAreaNotByDroppingLines_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("sideBySide");
    QTest::addColumn<QSize>("size");
    QTest::newRow("half-parallel") << "half-parallel" << true << QSize(40, 24);
    QTest::newRow("half-over-under") << "half-over-under" << false << QSize(40, 24);
    // An odd side gives the right eye the extra line: the frame keeps one eye's size.
    QTest::newRow("half-parallel, odd width") << "half-parallel" << true << QSize(31, 20);
    QTest::newRow("half-over-under, odd height") << "half-over-under" << false << QSize(40, 23);
}

void StereoOutputsTest::halfFormatsSqueezeEachEyeByAreaNotByDroppingLines() {
    QFETCH(QString, format);
    QFETCH(bool, sideBySide);
    QFETCH(QSize, size);
    const ProgramRun run =
        runTool(QStringList{"--to", format} + makeEyes(size) + QStringList{path("frame.png")});
    QCOMPARE(run.exitCode, 0);

    const QImage frame(path("frame.png"));
    QCOMPARE(frame.size(), size);
    // halved() pairs the lines of an even side only.
    if (size.width() % 2 != 0 || size.height() % 2 != 0)
        return;
    const QImage left = halved(leftEye(size), sideBySide);
    const QImage right = halved(rightEye(size), sideBySide);
    const QPoint second = sideBySide ? QPoint(left.width(), 0) : QPoint(0, left.height());
    QVERIFY(fixtures::largestChannelDifference(frame.copy(QRect({0, 0}, left.size())), left) <= 1);
    QVERIFY(fixtures::largestChannelDifference(frame.copy(QRect(second, right.size())), right) <=
            1);
}

void StereoOutputsTest::interleavedFormatsTakeEachEyeByParity_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<int>("rowWeight");    // the left eye where rowWeight * y + columnWeight * x
    QTest::addColumn<int>("columnWeight"); // is even
    QTest::newRow("rows, left on even rows") << "rows" << 1 << 0;
    QTest::newRow("columns, left on even columns") << "columns" << 0 << 1;
    QTest::newRow("checkerboard, left on even squares") << "checkerboard" << 1 << 1;
}

void StereoOutputsTest::interleavedFormatsTakeEachEyeByParity() {
    QFETCH(QString, format);
    QFETCH(int, rowWeight);
    QFETCH(int, columnWeight);
    const QSize size(9, 7);
    const ProgramRun run =
        runTool(QStringList{"--to", format} + makeEyes(size) + QStringList{path("out.bmp")});
    QCOMPARE(run.exitCode, 0);

    const QImage out(path("out.bmp"));
    QCOMPARE(out.size(), size);
    const QImage left = leftEye(size);
    const QImage right = rightEye(size);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const bool fromLeft = (rowWeight * y + columnWeight * x) % 2 == 0;
            QVERIFY2(out.pixel(x, y) == (fromLeft ? left : right).pixel(x, y),
                     qPrintable(QStringLiteral("at %1, %2").arg(x).arg(y)));
        }
}

void StereoOutputsTest::mpoReadsBackHereAndInExiftool() {
    // Smooth eyes, which JPEG keeps close.
    const QSize size(48, 32);
    const QImage left = fixtures::smoothPicture(size);
    const QImage right = left.mirrored(true, false);
    const QStringList eyes{
        fixtures::makeFile(dir_->path(), "left.png", fixtures::pngBytes(left)),
        fixtures::makeFile(dir_->path(), "right.png", fixtures::pngBytes(right))};
    const ProgramRun run = runTool(eyes + QStringList{path("out.mpo")});
    QCOMPARE(run.exitCode, 0);

    const QByteArray mpo = fixtures::readFile(path("out.mpo"));
    const duoptica::MpoIndex index = duoptica::ReadMpoIndex(mpo);
    QCOMPARE(index.kind, duoptica::MpoIndex::Kind::Mpo);
    QCOMPARE(index.images.size(), 2);
    QCOMPARE(index.images[0].offset + index.images[0].size, index.images[1].offset);
    QCOMPARE(index.images[1].offset + index.images[1].size, mpo.size());
    const ProgramRun split = runTool({"--to", "pair", path("out.mpo"), path("eye.png")});
    QCOMPARE(split.exitCode, 0);
    QVERIFY(fixtures::largestChannelDifference(QImage(path("eye_L.png")), left) <= 12);
    QVERIFY(fixtures::largestChannelDifference(QImage(path("eye_R.png")), right) <= 12);

    QVERIFY2(!exiftool().isEmpty(), "exiftool (libimage-exiftool-perl) is not installed");
    const auto tagsOf = exifTags;
    const QJsonObject first = tagsOf(path("out.mpo"));
    QCOMPARE(first.value(u"MPF0:MPFVersion").toString(), QStringLiteral("0100"));
    QCOMPARE(first.value(u"MPF0:NumberOfImages").toInt(), 2);
    QCOMPARE(first.value(u"MPF0:MPIndividualNum").toInt(), 1);
    QCOMPARE(first.value(u"MPF0:BaseViewpointNum").toInt(), 1);
    QCOMPARE(first.value(u"MPImage1:MPImageFlags").toInt(), 4); // representative
    QCOMPARE(first.value(u"MPImage2:MPImageFlags").toInt(), 0);
    for (const char *image : {"MPImage1", "MPImage2"}) {
        const QString group = QLatin1StringView(image) + u':';
        QCOMPARE(first.value(group + QStringLiteral("MPImageType")).toInt(),
                 0x020002); // multi-frame disparity
        const qsizetype number = image[7] == '1' ? 0 : 1;
        QCOMPARE(first.value(group + QStringLiteral("MPImageLength")).toInt(),
                 int(index.images[number].size));
        QCOMPARE(first.value(group + QStringLiteral("MPImageStart")).toInt(),
                 int(index.images[number].offset));
    }
    // The second image on its own carries its attribute IFD.
    const QString second = fixtures::makeFile(
        dir_->path(), "second.jpg", mpo.sliced(index.images[1].offset, index.images[1].size));
    QCOMPARE(tagsOf(second).value(u"MPF0:MPIndividualNum").toInt(), 2);
    QCOMPARE(tagsOf(second).value(u"MPF0:BaseViewpointNum").toInt(), 1);
}

void StereoOutputsTest::heicReadsBackHereInHeifInfoAndExiftool() {
    const QString heifInfo = QStandardPaths::findExecutable(QStringLiteral("heif-info"));
    QVERIFY2(!heifInfo.isEmpty(), "heif-info (libheif-examples) is not installed");
    QVERIFY2(!exiftool().isEmpty(), "exiftool (libimage-exiftool-perl) is not installed");
    // A camera's MPO: smooth eyes, each with its make and model.
    const QSize size(96, 64);
    const QImage left = fixtures::smoothPicture(size);
    const QImage right = left.mirrored(true, false);
    QList<QByteArray> eyes;
    for (const auto &[eye, model] : {std::pair{&left, "Camera L"}, {&right, "Camera R"}}) {
        const QString file = fixtures::makeFile(dir_->path(), "eye.jpg", fixtures::jpegBytes(*eye));
        QCOMPARE(runProgram(exiftool(), {"-q", "-overwrite_original", "-Make=Maker",
                                         QStringLiteral("-Model=") + model, file})
                     .exitCode,
                 0);
        eyes << fixtures::readFile(file);
    }
    const QString camera =
        fixtures::makeFile(dir_->path(), "camera.mpo", fixtures::mpoBytes(eyes, true));
    QCOMPARE(runTool({camera, path("out.heic")}).exitCode, 0);

    const QString info = QString::fromLocal8Bit(runProgram(heifInfo, {path("out.heic")}).out);
    static const QRegularExpression image(
        QStringLiteral(R"(^image: (\d+)x(\d+) \(id=(\d+)\)(, primary)?)"),
        QRegularExpression::MultilineOption);
    QList<quint32> ids;
    for (const QRegularExpressionMatch &match : image.globalMatch(info)) {
        QCOMPARE(QSize(match.captured(1).toInt(), match.captured(2).toInt()), size);
        // The primary one first.
        ids.insert(match.hasCaptured(4) ? 0 : ids.size(), match.captured(3).toUInt());
    }
    QCOMPARE(ids.size(), 2);
    const duoptica::HeifGroups groups =
        duoptica::ReadHeifGroups(fixtures::readFile(path("out.heic")));
    QCOMPARE(groups.groups.size(), 1);
    QCOMPARE(groups.groups[0].type, QByteArray("ster"));
    QCOMPARE(groups.groups[0].entities, ids);

    const ProgramRun tags =
        runProgram(exiftool(), {"-a", "-s3", "-Make", "-Model", "-Orientation#", path("out.heic")});
    QCOMPARE(QString::fromLocal8Bit(tags.out).split(u'\n', Qt::SkipEmptyParts),
             (QStringList{"Maker", "Maker", "Camera L", "Camera R"}));

    QCOMPARE(runTool({"--to", "pair", path("out.heic"), path("back.png")}).exitCode, 0);
    for (const auto &[file, eye] : {std::pair{"back_L.png", &left}, {"back_R.png", &right}}) {
        const QImage back = QImage(path(file)).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(back.size(), size);
        double squares = 0;
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                for (int shift : {0, 8, 16}) {
                    const int difference = int((back.pixel(x, y) >> shift) & 0xFF) -
                                           int((eye->pixel(x, y) >> shift) & 0xFF);
                    squares += difference * difference;
                }
        const double psnr = 10 * std::log10(255.0 * 255.0 * 3 * size.width() * size.height() /
                                            std::max(squares, 1.0));
        QVERIFY2(psnr >= 36, qPrintable(QStringLiteral("%1: %2 dB").arg(file).arg(psnr)));
    }
}

void StereoOutputsTest::jpegOutputsKeepTheCamerasExifMadeUpright_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QSize>("size"); // of the output, upright
    QTest::addColumn<int>("orientation");
    QTest::addColumn<bool>("centimetres"); // the EXIF resolution 40 px/cm instead of 72 dpi
    QTest::newRow("mpo") << QStringList() << "out.mpo" << QSize(40, 24) << 6 << false;
    QTest::newRow("side by side jpeg")
        << QStringList{"--to", "parallel"} << "out.jpg" << QSize(80, 24) << 6 << false;
    QTest::newRow("pair of jpegs")
        << QStringList{"--to", "pair"} << "out.jpg" << QSize(40, 24) << 6 << false;
    QTest::newRow("jps") << QStringList() << "out.jps" << QSize(80, 24) << 6 << false;
    QTest::newRow("anaglyph jpeg, turned")
        << QStringList{"--mode", "red-blue"} << "out.jpg" << QSize(40, 24) << 6 << false;
    QTest::newRow("anaglyph jpeg, upright (streamed)")
        << QStringList{"--mode", "red-blue"} << "out.jpg" << QSize(40, 24) << 1 << false;
    QTest::newRow("anaglyph jpeg, turned, 40 px/cm")
        << QStringList{"--mode", "red-blue"} << "out.jpg" << QSize(40, 24) << 6 << true;
    QTest::newRow("anaglyph jpeg, upright (streamed), 40 px/cm")
        << QStringList{"--mode", "red-blue"} << "out.jpg" << QSize(40, 24) << 1 << true;
}

void StereoOutputsTest::jpegOutputsKeepTheCamerasExifMadeUpright() {
    QFETCH(QStringList, options);
    QFETCH(QString, output);
    QFETCH(QSize, size);
    QFETCH(int, orientation);
    QFETCH(bool, centimetres);
    QVERIFY2(!exiftool().isEmpty(), "exiftool (libimage-exiftool-perl) is not installed");
    // Camera JPEGs stored lying on their side, with a thumbnail, an EXIF resolution and no JFIF
    // segment.
    QStringList eyes;
    const QString thumbnail = fixtures::makeFile(
        dir_->path(), "thumb.jpg", fixtures::jpegBytes(fixtures::smoothPicture({8, 8})));
    for (const char *side : {"L", "R"}) {
        const QImage stored =
            fixtures::smoothPicture(orientation == 6 ? QSize(24, 40) : QSize(40, 24));
        eyes << fixtures::makeFile(
            dir_->path(), QStringLiteral("eye_%1.jpg").arg(side),
            fixtures::jpegBytes(side[0] == 'L' ? stored : stored.mirrored()));
        const ProgramRun tagged = runProgram(
            exiftool(),
            {"-q", "-overwrite_original", "-JFIF:all=", "-Make=Maker",
             "-Model=Camera " + QLatin1StringView(side), "-DateTimeOriginal=2011:03:26 10:00:00",
             "-Orientation#=" + QString::number(orientation),
             centimetres ? "-XResolution=40" : "-XResolution=72",
             centimetres ? "-YResolution=40" : "-YResolution=72",
             centimetres ? "-ResolutionUnit=cm" : "-ResolutionUnit=inches", "-ExifImageWidth=1",
             "-ExifImageHeight=1", "-ThumbnailImage<=" + thumbnail, eyes.back()});
        QCOMPARE(tagged.exitCode, 0);
    }

    const ProgramRun run = runTool(options + eyes + QStringList{path(output)});
    QCOMPARE(run.exitCode, 0);

    QStringList files{path(output)};
    QStringList models{"Camera L"};
    if (options.contains(u"pair")) {
        files = QStringList{path("out_L.jpg"), path("out_R.jpg")};
        models << QStringLiteral("Camera R");
    } else if (output.endsWith(u".mpo")) {
        const QByteArray mpo = fixtures::readFile(path(output));
        const duoptica::MpoIndex index = duoptica::ReadMpoIndex(mpo);
        QCOMPARE(index.images.size(), 2);
        files << fixtures::makeFile(dir_->path(), "second.jpg",
                                    mpo.sliced(index.images[1].offset, index.images[1].size));
        models << QStringLiteral("Camera R");
    }
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QJsonObject tags = exifTags(files[i]);
        const auto tag = [&](const char *name) { return tags.value(QLatin1StringView(name)); };
        QCOMPARE(tag("IFD0:Make").toString(), QStringLiteral("Maker"));
        QCOMPARE(tag("IFD0:Model").toString(), models[i]);
        QCOMPARE(tag("ExifIFD:DateTimeOriginal").toString(), QStringLiteral("2011:03:26 10:00:00"));
        QCOMPARE(tag("IFD0:Orientation").toInt(), 1);
        QCOMPARE(tag("File:ImageWidth").toInt(), size.width());
        QCOMPARE(tag("File:ImageHeight").toInt(), size.height());
        QCOMPARE(tag("ExifIFD:ExifImageWidth").toInt(), size.width());
        QCOMPARE(tag("ExifIFD:ExifImageHeight").toInt(), size.height());
        // The camera's thumbnail gives way to one of the output's own pixels, 160 x 120, never
        // to an emptied IFD.
        const ProgramRun thumbnail =
            runProgram(exiftool(), {"-b", "-IFD1:ThumbnailImage", files[i]});
        QCOMPARE(QImage::fromData(thumbnail.out).size(), QSize(160, 120));
        // JFIF's units: 1 inches, 2 centimetres.
        QCOMPARE(tag("JFIF:ResolutionUnit").toInt(), centimetres ? 2 : 1);
        QCOMPARE(tag("JFIF:XResolution").toInt(), centimetres ? 40 : 72);
        QCOMPARE(tag("JFIF:YResolution").toInt(), centimetres ? 40 : 72);
    }
}

void StereoOutputsTest::losslessOutputsCopyTheEntropyCodedData_data() {
    QTest::addColumn<QString>("input"); // two JPEG files, or one MPO
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("outputs");
    QTest::addColumn<bool>("swapped");
    QTest::addColumn<int>("shift"); // --window: the eyes are moved, so encoded anew, not copied
    QTest::newRow("two jpegs into an mpo")
        << "pair" << QStringList() << QStringList{"out.mpo"} << false << 0;
    QTest::newRow("an mpo swapped into an mpo")
        << "mpo" << QStringList{"--swap"} << QStringList{"out.mpo"} << true << 0;
    QTest::newRow("an mpo into two jpegs") << "mpo" << QStringList{"--to", "pair"}
                                           << QStringList{"out_L.jpg", "out_R.jpg"} << false << 0;
    QTest::newRow("two jpegs into an mpo, window 3: not copied")
        << "pair" << QStringList{"--window", "3"} << QStringList{"out.mpo"} << false << 3;
    QTest::newRow("an mpo into two jpegs, window -2: not copied")
        << "mpo" << QStringList{"--to", "pair", "--window=-2"}
        << QStringList{"out_L.jpg", "out_R.jpg"} << false << -2;
}

void StereoOutputsTest::losslessOutputsCopyTheEntropyCodedData() {
    QFETCH(QString, input);
    QFETCH(QStringList, options);
    QFETCH(QStringList, outputs);
    QFETCH(bool, swapped);
    QFETCH(int, shift);
    // Encoded at a quality the tool does not use, so a new encoding could not give these bytes.
    const QImage left = fixtures::smoothPicture({48, 32});
    QList<QByteArray> eyes;
    for (const QImage &eye : {left, left.mirrored(true, false)}) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(eye.save(&buffer, "JPEG", 37));
        eyes << buffer.data();
    }
    QStringList inputs;
    if (input == u"pair")
        inputs << fixtures::makeFile(dir_->path(), "l.jpg", eyes[0])
               << fixtures::makeFile(dir_->path(), "r.jpg", eyes[1]);
    else
        inputs << fixtures::makeFile(dir_->path(), "in.mpo", fixtures::mpoBytes(eyes, true));
    const QString output = outputs.size() == 1 ? outputs[0] : QStringLiteral("out.jpg");

    const ProgramRun run = runTool(options + inputs + QStringList{path(output)});
    QCOMPARE(run.exitCode, 0);

    QList<QByteArray> written;
    for (const QString &file : outputs)
        written << imagesOf(fixtures::readFile(path(file)));
    QCOMPARE(written.size(), 2);
    if (shift != 0) {
        for (const QByteArray &image : std::as_const(written))
            QCOMPARE(QImage::fromData(image).size(), QSize(left.width() - std::abs(shift), 32));
        return;
    }
    if (swapped)
        std::swap(eyes[0], eyes[1]);
    for (int i = 0; i < 2; ++i)
        QVERIFY2(entropyCodedData(written[i]) == entropyCodedData(eyes[i]),
                 qPrintable(QStringLiteral("image %1").arg(i + 1)));
    if (outputs[0].endsWith(u".mpo"))
        QCOMPARE(duoptica::ReadMpoIndex(fixtures::readFile(path(output))).images.size(), 2);
}

void StereoOutputsTest::alignedCameraFileGivesCroppedStereoOutputs_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("output");
    QTest::newRow("aligned mpo") << QStringList() << "out.mpo";
    QTest::newRow("aligned half-parallel frame")
        << QStringList{"--to", "half-parallel"} << "out.jpg";
}

void StereoOutputsTest::alignedCameraFileGivesCroppedStereoOutputs() {
    QFETCH(QStringList, options);
    QFETCH(QString, output);
    const synthetic::Scene scene({900, 600});
    const QString mpo =
        fixtures::makeFile(dir_->path(), "camera.mpo",
                           fixtures::mpoBytes({fixtures::jpegBytes(scene.left()),
                                               fixtures::jpegBytes(scene.right({1.5, 1.02, 5}))},
                                              false));

    const ProgramRun run = runTool(QStringList{"--align", "--window", "auto"} + options +
                                   QStringList{mpo, path(output)});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.err.contains("aligned with "), run.err.constData());

    const QList<QByteArray> images = imagesOf(fixtures::readFile(path(output)));
    QCOMPARE(images.size(), output.endsWith(u".mpo") ? 2 : 1);
    const QSize size = QImage::fromData(images[0]).size();
    for (const QByteArray &image : images)
        QCOMPARE(QImage::fromData(image).size(), size);
    // Turned 1.5 degrees and moved 5 pixels, the pair loses a margin all round.
    QVERIFY2(size.width() < 900 && size.height() < 590 && size.width() > 800 && size.height() > 500,
             qPrintable(QStringLiteral("%1x%2").arg(size.width()).arg(size.height())));
}

void StereoOutputsTest::mpoKeepsTheCamerasGeometryOnlyWhileItHolds_data() {
    QTest::addColumn<bool>("fromCamera"); // an MPO with a convergence angle and baseline, or PNGs
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<double>("convergence"); // as exiftool reads the second image's
    QTest::addColumn<double>("baseline");
    // Unknown is 0xFFFFFFFF / 0xFFFFFFFF, which exiftool reads as 1.
    QTest::newRow("png eyes: unknown") << false << QStringList() << 1.0 << 1.0;
    QTest::newRow("camera mpo copied") << true << QStringList() << 2.5 << 0.075;
    QTest::newRow("camera mpo copied, swapped") << true << QStringList{"--swap"} << 2.5 << 0.075;
    QTest::newRow("camera mpo after a window shift: unknown")
        << true << QStringList{"--window", "2"} << 1.0 << 1.0;
}

void StereoOutputsTest::mpoKeepsTheCamerasGeometryOnlyWhileItHolds() {
    QFETCH(bool, fromCamera);
    QFETCH(QStringList, options);
    QFETCH(double, convergence);
    QFETCH(double, baseline);
    QVERIFY2(!exiftool().isEmpty(), "exiftool (libimage-exiftool-perl) is not installed");
    QStringList inputs = makeEyes({40, 24});
    if (fromCamera) {
        // The tool's own MPO of the eyes, its second image given 2.5 degrees and 7.5 cm.
        QCOMPARE(runTool(inputs + QStringList{path("camera.mpo")}).exitCode, 0);
        const QByteArray camera = fixtures::readFile(path("camera.mpo"));
        const duoptica::MpoIndex index = duoptica::ReadMpoIndex(camera);
        QCOMPARE(index.images.size(), 2);
        const QByteArray second = withMpGeometry(
            camera.sliced(index.images[1].offset, index.images[1].size), {5, 2, 75, 1000});
        QVERIFY(!second.isEmpty());
        inputs = QStringList{fixtures::makeFile(dir_->path(), "patched.mpo",
                                                camera.first(index.images[1].offset) + second)};
    }
    const ProgramRun run = runTool(options + inputs + QStringList{path("out.mpo")});
    QCOMPARE(run.exitCode, 0);

    const QList<QByteArray> images = imagesOf(fixtures::readFile(path("out.mpo")));
    QCOMPARE(images.size(), 2);
    const QJsonObject tags = exifTags(fixtures::makeFile(dir_->path(), "second.jpg", images[1]));
    QCOMPARE(tags.value(u"MPF0:ConvergenceAngle").toDouble(), convergence);
    QCOMPARE(tags.value(u"MPF0:BaselineLength").toDouble(), baseline);
}

void StereoOutputsTest::makerNoteParallaxIsClearedOncePixelsMove_data() {
    QTest::addColumn<bool>("nintendo");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("output");
    QTest::addColumn<double>("parallax"); // as exiftool reads it in the (first) image written
    QTest::newRow("fujifilm mpo copied") << false << QStringList() << "out.mpo" << 1.5;
    QTest::newRow("fujifilm mpo, window 10")
        << false << QStringList{"--window", "10"} << "out.mpo" << 0.0;
    QTest::newRow("3ds mpo copied") << true << QStringList() << "out.mpo" << -44.8;
    QTest::newRow("3ds mpo, window 10")
        << true << QStringList{"--window", "10"} << "out.mpo" << 0.0;
    QTest::newRow("3ds mpo packed side by side")
        << true << QStringList{"--to", "parallel"} << "out.jpg" << 0.0;
}

void StereoOutputsTest::makerNoteParallaxIsClearedOncePixelsMove() {
    QFETCH(bool, nintendo);
    QFETCH(QStringList, options);
    QFETCH(QString, output);
    QFETCH(double, parallax);
    QVERIFY2(!exiftool().isEmpty(), "exiftool (libimage-exiftool-perl) is not installed");
    const QSize size(40, 24);
    const QByteArray exif = fixtures::segment('\xE1', stereoCameraExif(nintendo));
    const QString camera = fixtures::makeFile(
        dir_->path(), "camera.mpo",
        fixtures::mpoBytes({fixtures::withSegment(fixtures::jpegBytes(leftEye(size)), exif),
                            fixtures::withSegment(fixtures::jpegBytes(rightEye(size)), exif)},
                           false));
    const ProgramRun run = runTool(options + QStringList{camera, path(output)});
    QCOMPARE(run.exitCode, 0);

    const QString first = fixtures::makeFile(dir_->path(), "first.jpg",
                                             imagesOf(fixtures::readFile(path(output)))[0]);
    const QJsonObject tags = exifTags(first);
    const QString name =
        nintendo ? QStringLiteral("Nintendo:Parallax") : QStringLiteral("FujiFilm:Parallax");
    QVERIFY2(tags.contains(name), qPrintable(QJsonDocument(tags).toJson()));
    QVERIFY2(qAbs(tags.value(name).toDouble() - parallax) < 0.01,
             qPrintable(tags.value(name).toVariant().toString()));
}

void StereoOutputsTest::thumbnailShowsTheImagesOwnPixels_data() {
    QTest::addColumn<QString>("eyes"); // "jpg" eyes are streamed where they can be
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("output");
    QTest::newRow("parallel, streamed") << "jpg" << QStringList{"--to", "parallel"} << "out.jpg";
    QTest::newRow("anaglyph, whole") << "png" << QStringList{"--mode", "color"} << "out.jpg";
    QTest::newRow("mpo, each image its eye") << "png" << QStringList() << "out.mpo";
    QTest::newRow("over-under, window 4")
        << "jpg" << QStringList{"--to", "over-under", "--window", "4"} << "out.jpg";
}

void StereoOutputsTest::thumbnailShowsTheImagesOwnPixels() {
    QFETCH(QString, eyes);
    QFETCH(QStringList, options);
    QFETCH(QString, output);
    QVERIFY2(!exiftool().isEmpty(), "exiftool (libimage-exiftool-perl) is not installed");
    const QImage left = fixtures::smoothPicture({120, 72});
    const QImage right = left.mirrored(true, true);
    const auto bytes = [&](const QImage &eye) {
        return eyes == u"jpg" ? fixtures::jpegBytes(eye) : fixtures::pngBytes(eye);
    };
    const QStringList files{fixtures::makeFile(dir_->path(), "l." + eyes, bytes(left)),
                            fixtures::makeFile(dir_->path(), "r." + eyes, bytes(right))};
    QCOMPARE(runTool(options + files + QStringList{path(output)}).exitCode, 0);

    const QList<QByteArray> images = imagesOf(fixtures::readFile(path(output)));
    for (qsizetype i = 0; i < images.size(); ++i) {
        const QString image =
            fixtures::makeFile(dir_->path(), QStringLiteral("image%1.jpg").arg(i), images[i]);
        const QImage thumbnail =
            QImage::fromData(runProgram(exiftool(), {"-b", "-IFD1:ThumbnailImage", image}).out);
        QCOMPARE(thumbnail.size(), QSize(160, 120));
        // The image itself, letterboxed into 160 x 120 on black.
        const QImage pixels = QImage::fromData(images[i]).convertToFormat(QImage::Format_RGB32);
        const QImage fitted =
            pixels.scaled(160, 120, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QImage expected(160, 120, QImage::Format_RGB32);
        expected.fill(Qt::black);
        QPainter(&expected).drawImage((160 - fitted.width()) / 2, (120 - fitted.height()) / 2,
                                      fitted);
        const double ratio = psnr(expected, thumbnail.convertToFormat(QImage::Format_RGB32));
        QVERIFY2(ratio > 20, qPrintable(QString::number(ratio))); // another picture: 7 dB
    }
}

void StereoOutputsTest::everyJpegImageStartsWithExif_data() {
    QTest::addColumn<QString>("eyes"); // "jfif" JPEGs without EXIF, "camera" ones, or "png"
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("width"); // of each image written
    QTest::newRow("mpo from jfif-only eyes, copied") << "jfif" << QStringList() << "out.mpo" << 40;
    QTest::newRow("mpo from camera eyes, copied") << "camera" << QStringList() << "out.mpo" << 40;
    QTest::newRow("mpo encoded again, window 2")
        << "camera" << QStringList{"--window", "2"} << "out.mpo" << 38;
    QTest::newRow("mpo from png eyes") << "png" << QStringList() << "out.mpo" << 40;
    QTest::newRow("pair from jfif-only eyes, copied")
        << "jfif" << QStringList{"--to", "pair"} << "out.jpg" << 40;
    QTest::newRow("pair from png eyes") << "png" << QStringList{"--to", "pair"} << "out.jpg" << 40;
    QTest::newRow("parallel from jfif-only eyes, streamed")
        << "jfif" << QStringList{"--to", "parallel"} << "out.jpg" << 80;
    QTest::newRow("jps from camera eyes, streamed") << "camera" << QStringList() << "out.jps" << 80;
    QTest::newRow("anaglyph from png eyes") << "png" << QStringList() << "out.jpg" << 40;
}

void StereoOutputsTest::everyJpegImageStartsWithExif() {
    QFETCH(QString, eyes);
    QFETCH(QStringList, options);
    QFETCH(QString, output);
    QFETCH(int, width);
    QVERIFY2(!exiftool().isEmpty(), "exiftool (libimage-exiftool-perl) is not installed");
    const QSize size(40, 24);
    QStringList files;
    for (const QImage &eye : {leftEye(size), rightEye(size)}) {
        const QByteArray bytes = eyes == u"png"      ? fixtures::pngBytes(eye)
                                 : eyes == u"camera" ? jpegWithExifAfterJfif(eye)
                                                     : fixtures::jpegBytes(eye);
        files << fixtures::makeFile(
            dir_->path(),
            QStringLiteral("eye%1.%2").arg(files.size()).arg(eyes == u"png" ? u"png" : u"jpg"),
            bytes);
    }
    const ProgramRun run = runTool(options + files + QStringList{path(output)});
    QCOMPARE(run.exitCode, 0);

    QList<QByteArray> images;
    if (options.contains(u"pair"))
        images << fixtures::readFile(path("out_L.jpg")) << fixtures::readFile(path("out_R.jpg"));
    else
        images = imagesOf(fixtures::readFile(path(output)));
    QCOMPARE(images.size(), output.endsWith(u".mpo") || options.contains(u"pair") ? 2 : 1);
    QStringList expected{"Exif", "JFIF"};
    if (output.endsWith(u".mpo"))
        expected << QStringLiteral("MPF");
    for (qsizetype i = 0; i < images.size(); ++i) {
        QVERIFY(images[i].startsWith("\xFF\xD8\xFF\xE1"));
        QCOMPARE(appSegments(images[i]), expected);
        const QString image =
            fixtures::makeFile(dir_->path(), QStringLiteral("image%1.jpg").arg(i), images[i]);
        const QJsonObject tags = exifTags(image);
        QCOMPARE(tags.value(u"File:ImageWidth").toInt(), width);
        if (eyes != u"camera")
            QCOMPARE(tags.value(u"ExifIFD:ExifImageWidth").toInt(), width);
    }
}

void StereoOutputsTest::jpegChromaIsWholeForAnaglyphsAndHighQualities_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("eyes"); // "jpg" eyes take the streamed path, "png" the general one
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("sampling"); // of every image written
    const QString full = QStringLiteral("11 11 11");
    const QString half = QStringLiteral("22 11 11");
    QTest::newRow("anaglyph, quality 90, streamed")
        << QStringList{"--mode", "dubois-red-cyan"} << "jpg"
        << "out.jpg" << full;
    QTest::newRow("anaglyph, quality 100, streamed")
        << QStringList{"--mode", "color", "--quality", "100"} << "jpg"
        << "out.jpg" << full;
    QTest::newRow("anaglyph, quality 90, whole") << QStringList{"--mode", "gray"} << "png"
                                                 << "out.jpg" << full;
    QTest::newRow("anaglyph, quality 100, whole") << QStringList{"--quality", "100"} << "png"
                                                  << "out.jpg" << full;
    QTest::newRow("parallel, quality 94, streamed")
        << QStringList{"--to", "parallel", "--quality", "94"} << "jpg"
        << "out.jpg" << half;
    QTest::newRow("parallel, quality 95, streamed")
        << QStringList{"--to", "parallel", "--quality", "95"} << "jpg"
        << "out.jpg" << full;
    QTest::newRow("over-under, quality 90") << QStringList{"--to", "over-under"} << "png"
                                            << "out.jpg" << half;
    QTest::newRow("over-under, quality 95")
        << QStringList{"--to", "over-under", "--quality", "95"} << "png"
        << "out.jpg" << full;
    QTest::newRow("mpo, quality 96") << QStringList{"--quality", "96"} << "png"
                                     << "out.mpo" << full;
}

void StereoOutputsTest::jpegChromaIsWholeForAnaglyphsAndHighQualities() {
    QFETCH(QStringList, options);
    QFETCH(QString, eyes);
    QFETCH(QString, output);
    QFETCH(QString, sampling);
    const QSize size(40, 24);
    const auto bytes = [&](const QImage &eye) {
        return eyes == u"jpg" ? fixtures::jpegBytes(eye) : fixtures::pngBytes(eye);
    };
    const QStringList files{fixtures::makeFile(dir_->path(), "l." + eyes, bytes(leftEye(size))),
                            fixtures::makeFile(dir_->path(), "r." + eyes, bytes(rightEye(size)))};
    const ProgramRun run = runTool(options + files + QStringList{path(output)});
    QCOMPARE(run.exitCode, 0);
    const QList<QByteArray> images = imagesOf(fixtures::readFile(path(output)));
    QCOMPARE(images.size(), output.endsWith(u".mpo") ? 2 : 1);
    for (const QByteArray &image : images)
        QCOMPARE(chromaSampling(image), sampling);
}

void StereoOutputsTest::wiggleAlternatesTheEyes_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("delay");
    QTest::addColumn<int>("tolerance"); // GIF keeps the eyes' 200 colours exactly; WebP is lossy
    QTest::newRow("gif, 150 ms by default") << QStringList() << "out.gif" << 150 << 0;
    QTest::newRow("webp, 200 ms") << QStringList{"--wiggle-ms", "200"} << "out.webp" << 200 << 16;
    QTest::newRow("gif after a window shift")
        << QStringList{"--window", "4"} << "out.gif" << 150 << 0;
}

void StereoOutputsTest::wiggleAlternatesTheEyes() {
    QFETCH(QStringList, options);
    QFETCH(QString, output);
    QFETCH(int, delay);
    QFETCH(int, tolerance);
    const QSize size(64, 48);
    // Lossy WebP keeps smooth eyes close; GIF keeps the pattern's colours exactly.
    const bool lossy = output.endsWith(u".webp");
    QImage left = lossy ? fixtures::smoothPicture(size) : leftEye(size);
    QImage right = lossy ? left.mirrored(true, false) : rightEye(size);
    const QStringList eyes{fixtures::makeFile(dir_->path(), "l.png", fixtures::pngBytes(left)),
                           fixtures::makeFile(dir_->path(), "r.png", fixtures::pngBytes(right))};
    const ProgramRun run =
        runTool(QStringList{"--to", "wiggle"} + options + eyes + QStringList{path(output)});
    QCOMPARE(run.exitCode, 0);

    const int shift = options.contains(u"--window") ? 4 : 0;
    left = left.copy(shift, 0, size.width() - shift, size.height());
    right = right.copy(0, 0, size.width() - shift, size.height());
    QImageReader reader(path(output));
    QCOMPARE(reader.imageCount(), 2);
    QCOMPARE(reader.loopCount(), -1); // forever
    for (const QImage *eye : {&left, &right}) {
        const QImage frame = reader.read();
        QCOMPARE(frame.size(), eye->size());
        const int difference = fixtures::largestChannelDifference(frame, *eye);
        QVERIFY2(difference <= tolerance, qPrintable(QString::number(difference)));
        QCOMPARE(reader.nextImageDelay(), delay);
    }
}

void StereoOutputsTest::wiggleGifOfAPhotographSharesOneQuantisedPalette() {
    // Smooth gradients of thousands of colours, which a fixed colour cube turns grainy (22 dB).
    const QSize size(96, 64);
    const QImage left = fixtures::smoothPicture(size);
    const QImage right = left.mirrored(true, true);
    const QStringList eyes{fixtures::makeFile(dir_->path(), "l.png", fixtures::pngBytes(left)),
                           fixtures::makeFile(dir_->path(), "r.png", fixtures::pngBytes(right))};
    const ProgramRun run =
        runTool(QStringList{"--to", "wiggle"} + eyes + QStringList{path("out.gif")});
    QCOMPARE(run.exitCode, 0);

    const GifTables tables = gifTables(fixtures::readFile(path("out.gif")));
    QCOMPARE(tables.images, 2);
    QCOMPARE(tables.localTables, 0); // both frames take the one global palette
    QImageReader reader(path("out.gif"));
    for (const QImage *eye : {&left, &right}) {
        const double ratio = psnr(*eye, reader.read().convertToFormat(QImage::Format_RGB32));
        QVERIFY2(ratio >= 30, qPrintable(QString::number(ratio)));
    }
}

void StereoOutputsTest::wigglesOfAdobeRgbEyesAreInSrgb_data() {
    QTest::addColumn<QString>("output");
    QTest::addColumn<bool>("adobe"); // else gamma 2.2 with sRGB's primaries, as PNG encoders write
    QTest::newRow("gif") << "out.gif" << true;
    QTest::newRow("webp") << "out.webp" << true;
    QTest::newRow("gif of gamma 2.2 eyes, taken as sRGB") << "out.gif" << false;
}

void StereoOutputsTest::wigglesOfAdobeRgbEyesAreInSrgb() {
    QFETCH(QString, output);
    QFETCH(bool, adobe);
    QImage left = fixtures::smoothPicture({64, 48});
    left.setColorSpace(adobe ? QColorSpace(QColorSpace::AdobeRgb)
                             : QColorSpace(QColorSpace::Primaries::SRgb, 2.2f));
    const QImage right = left.mirrored(true, false);
    const QStringList eyes{fixtures::makeFile(dir_->path(), "l.png", fixtures::pngBytes(left)),
                           fixtures::makeFile(dir_->path(), "r.png", fixtures::pngBytes(right))};
    const ProgramRun run =
        runTool(QStringList{"--to", "wiggle"} + eyes + QStringList{path(output)});
    QCOMPARE(run.exitCode, 0);

    // ImageMagick's conversion of each eye from its embedded profile to sRGB.
    const QString srgb =
        fixtures::makeFile(dir_->path(), "srgb.icc", QColorSpace(QColorSpace::SRgb).iccProfile());
    QImageReader reader(path(output));
    for (const QString &eye : eyes) {
        const QString converted = eye + QStringLiteral(".srgb.png");
        QCOMPARE(runProgram(QStringLiteral("convert"), {eye, "-profile", srgb, converted}).exitCode,
                 0);
        const QImage frame = reader.read().convertToFormat(QImage::Format_RGB32);
        const QImage raw = QImage(eye).convertToFormat(QImage::Format_RGB32);
        const double toSrgb = psnr(QImage(converted).convertToFormat(QImage::Format_RGB32), frame);
        const double toRaw = psnr(raw, frame);
        const QString figures =
            QStringLiteral("%1 dB from sRGB, %2 dB from the raw numbers").arg(toSrgb).arg(toRaw);
        if (adobe)
            QVERIFY2(toSrgb > toRaw + 6, qPrintable(figures));
        else
            QVERIFY2(toRaw > toSrgb + 0.5, qPrintable(figures));
    }
}

void StereoOutputsTest::streamsOutputsIntoTheWholePicturesBytes_data() {
    QTest::addColumn<duoptica::StereoOutput>("to");
    QTest::addColumn<QByteArray>("format");
    // Two files ("pair"), an MPO, or one picture holding both eyes in that layout.
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("swap");
    QTest::addColumn<QSize>("eye");
    QTest::addColumn<int>("maxSize"); // --max-size, or 0
    using To = duoptica::StereoOutput;
    // Odd sizes and more rows than a band.
    const QSize odd(301, 77);
    QTest::newRow("parallel jpeg")
        << To::Parallel << QByteArray("jpg") << "pair" << false << odd << 0;
    QTest::newRow("cross jpeg from an mpo, swapped")
        << To::Cross << QByteArray("jpg") << "mpo" << true << odd << 0;
    QTest::newRow("jps") << To::Jps << QByteArray("jpg") << "pair" << false << odd << 0;
    QTest::newRow("parallel jpeg at quality 95, 4:4:4")
        << To::Parallel << QByteArray("jpg95") << "pair" << false << odd << 0;
    QTest::newRow("parallel bmp") << To::Parallel << QByteArray("bmp") << "mpo" << false << odd
                                  << 0;
    QTest::newRow("anaglyph png") << To::Anaglyph << QByteArray("png") << "pair" << false << odd << 0;
    QTest::newRow("over-under jpeg")
        << To::OverUnder << QByteArray("jpg") << "pair" << false << odd << 0;
    QTest::newRow("over-under bmp from an mpo, swapped")
        << To::OverUnder << QByteArray("bmp") << "mpo" << true << odd << 0;
    QTest::newRow("over-under png from one picture, cross, swapped")
        << To::OverUnder << QByteArray("png") << "cross" << true << odd << 0;
    QTest::newRow("over-under jpeg from one picture over-under, odd height")
        << To::OverUnder << QByteArray("jpg") << "over-under" << false << odd << 0;
    // Sized: decoded whole, or smaller where libjpeg's reduction leaves the average 2x or more.
    QTest::newRow("parallel jpeg shrunk by a fraction")
        << To::Parallel << QByteArray("jpg") << "pair" << false << odd << 200;
    QTest::newRow("parallel jpeg decoded at a quarter, then halved")
        << To::Parallel << QByteArray("jpg") << "pair" << false << QSize(320, 96) << 40;
    QTest::newRow("anaglyph bmp from an mpo decoded at a half")
        << To::Anaglyph << QByteArray("bmp") << "mpo" << false << QSize(320, 96) << 50;
    QTest::newRow("cross bmp shrunk to one row, swapped")
        << To::Cross << QByteArray("bmp") << "pair" << true << odd << 3;
    QTest::newRow("over-under jpeg from an mpo shrunk, swapped")
        << To::OverUnder << QByteArray("jpg") << "mpo" << true << QSize(320, 96) << 100;
    QTest::newRow("over-under jpeg from one picture side by side, decoded whole")
        << To::OverUnder << QByteArray("jpg") << "parallel" << false << QSize(320, 96) << 50;
}

void StereoOutputsTest::streamsOutputsIntoTheWholePicturesBytes() {
    QFETCH(duoptica::StereoOutput, to);
    QFETCH(QByteArray, format);
    QFETCH(QString, source);
    QFETCH(bool, swap);
    QFETCH(QSize, eye);
    QFETCH(int, maxSize);
    // "jpg95": a JPEG at quality 95, whose chroma is kept whole.
    const int quality = format == "jpg95" ? 95 : duoptica::kDefaultJpegQuality;
    format.truncate(3);
    const QImage left = leftEye(eye);
    const QImage right = rightEye(eye);
    const QList<QByteArray> eyes{fixtures::jpegBytes(left), fixtures::jpegBytes(right)};
    duoptica::PairJob job{.leftFile = fixtures::makeFile(dir_->path(), "l.jpg", eyes[0]),
                          .rightFile = fixtures::makeFile(dir_->path(), "r.jpg", eyes[1]),
                          .outputFile = path("whole." + format),
                          .settings = {.to = to,
                                       .format = duoptica::outputFormatNamed(format)->file,
                                       .swap = swap,
                                       .jpegQuality = quality}};
    if (maxSize != 0)
        job.settings.adjust.size =
            duoptica::EyeSize{.kind = duoptica::EyeSize::Kind::LongerSide, .longerSide = maxSize};
    if (source == u"mpo") {
        job.leftFile = fixtures::makeFile(dir_->path(), "in.mpo", fixtures::mpoBytes(eyes, false));
        job.layout = duoptica::StereoLayout::FromFile;
    } else if (source != u"pair") {
        // Over-under with a row to spare, which belongs to neither eye.
        const bool overUnder = source == u"over-under";
        QImage both(overUnder ? QSize(eye.width(), 2 * eye.height() + 1)
                              : QSize(2 * eye.width(), eye.height()),
                    QImage::Format_RGB32);
        both.fill(Qt::white);
        QPainter painter(&both);
        painter.drawImage(0, 0, source == u"cross" ? right : left);
        painter.drawImage(overUnder ? 0 : eye.width(), overUnder ? eye.height() : 0,
                          source == u"cross" ? left : right);
        painter.end();
        job.leftFile = fixtures::makeFile(dir_->path(), "both.jpg", fixtures::jpegBytes(both));
        job.layout = overUnder            ? duoptica::StereoLayout::OverUnder
                     : source == u"cross" ? duoptica::StereoLayout::Cross
                                          : duoptica::StereoLayout::Parallel;
    }
    if (source != u"pair")
        job.rightFile.clear();
    QCOMPARE(int(duoptica::combineWholePictures(job, duoptica::Threads::All).code), 0);
    for (const duoptica::Threads threads : {duoptica::Threads::All, duoptica::Threads::One}) {
        job.outputFile = path("streamed." + format);
        const std::optional<duoptica::Outcome> streamed =
            runOnPath(duoptica::PairPath::JpegStreamed, job, threads);
        QVERIFY(streamed.has_value());
        QCOMPARE(int(streamed->code), 0);
        QCOMPARE(fixtures::readFile(path("streamed." + format)),
                 fixtures::readFile(path("whole." + format)));
    }
}

void StereoOutputsTest::pairThatCannotBeWrittenLeavesTheFolderAsItWas_data() {
    QTest::addColumn<QString>("extension");
    QTest::addColumn<bool>("earlierLeft");
    QTest::newRow("png, no earlier file") << "png" << false;
    QTest::newRow("png, an earlier left eye's file") << "png" << true;
    QTest::newRow("jpeg eyes copied as they are, an earlier left eye's file") << "jpg" << true;
}

void StereoOutputsTest::pairThatCannotBeWrittenLeavesTheFolderAsItWas() {
    QFETCH(QString, extension);
    QFETCH(bool, earlierLeft);
    const QSize size(16, 8);
    const QStringList eyes =
        extension == u"png" ? makeEyes(size)
                            : QStringList{fixtures::makeFile(dir_->path(), "left.jpg",
                                                             fixtures::jpegBytes(leftEye(size))),
                                          fixtures::makeFile(dir_->path(), "right.jpg",
                                                             fixtures::jpegBytes(rightEye(size)))};
    const QString earlier = path("out_L." + extension);
    if (earlierLeft)
        QVERIFY(fixtures::writeFile(earlier, "an earlier run's"));
    const QStringList before = QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden);
    // The right eye's file cannot be made: a folder is in its place.
    QVERIFY(QDir(dir_->path()).mkdir("out_R." + extension));
    const ProgramRun run =
        runTool(QStringList{"--to", "pair"} + eyes + QStringList{path("out." + extension)});
    QCOMPARE(run.exitCode, 5);
    QVERIFY2(run.err.contains("out_R." + extension.toLatin1()), run.err.constData());
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden), before);
    if (earlierLeft)
        QCOMPARE(fixtures::readFile(earlier), QByteArray("an earlier run's"));
}

void StereoOutputsTest::pngFedInBandsReadsBackAsThePicture_data() {
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("allThreads");
    QTest::addColumn<int>("fileSizeLimit"); // 0: none; else every write past it meets a full disk
    QTest::newRow("one row") << QSize(7, 1) << true << 0;
    QTest::newRow("odd width, one thread") << QSize(301, 77) << false << 0;
    // 349 rows a piece: more pieces than are held in flight.
    QTest::newRow("more rows than a piece") << QSize(1001, 1900) << true << 0;
    QTest::newRow("a write that fails") << QSize(1001, 1900) << true << 4096;
    QTest::newRow("a write that fails, one thread") << QSize(1001, 1900) << false << 4096;
}

void StereoOutputsTest::pngFedInBandsReadsBackAsThePicture() {
    QFETCH(QSize, size);
    QFETCH(bool, allThreads);
    QFETCH(int, fileSizeLimit);
    QImage picture = fixtures::patternPicture(size, 200);
    picture.setDotsPerMeterX(2835);
    picture.setDotsPerMeterY(5670);
    const QString file = path("banded.png");
    bool written = false;
    QString reason;
    {
        std::optional<FileSizeLimit> limit;
        if (fileSizeLimit > 0)
            limit.emplace(fileSizeLimit);
        const std::unique_ptr<duoptica::PictureWriter> writer =
            duoptica::bandWriter(duoptica::FileFormat::Png, file, allThreads);
        written = writer->begin({.width = size.width(),
                                 .height = size.height(),
                                 .dotsPerMeterX = picture.dotsPerMeterX(),
                                 .dotsPerMeterY = picture.dotsPerMeterY(),
                                 .quality = -1,
                                 .exif = {}});
        // In bands of 32 rows, as the streamed path hands them over.
        for (int y = 0; y < size.height() && written; y += 32)
            written = writer->writeRows(
                reinterpret_cast<const duoptica::PackedPixel *>(picture.constScanLine(y)), y,
                std::min(32, size.height() - y));
        written = written && writer->finish();
        reason = writer->error().reason;
        if (!written)
            writer->cancel();
    }
    if (fileSizeLimit > 0) {
        QVERIFY(!written);
        QCOMPARE(reason, QString::fromLocal8Bit(std::strerror(EFBIG)));
        QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden), QStringList());
        return;
    }
    QVERIFY2(written, qPrintable(reason));
    const QImage back(file);
    QCOMPARE(back.convertToFormat(QImage::Format_RGB32), picture);
    QCOMPARE(back.dotsPerMeterX(), picture.dotsPerMeterX());
    QCOMPARE(back.dotsPerMeterY(), picture.dotsPerMeterY());
    // The same bytes as the picture written whole.
    QCOMPARE(duoptica::writePngInParallel(picture, path("whole.png"), allThreads), QString());
    QCOMPARE(fixtures::readFile(file), fixtures::readFile(path("whole.png")));
}

void StereoOutputsTest::batchWritesStereoFormats_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("outputs");
    QTest::newRow("mpo") << QStringList{"--format", "mpo"} << QStringList{"a.mpo", "b.mpo"};
    QTest::newRow("pair of jpegs") << QStringList{"--to", "pair", "--format", "jpg"}
                                   << QStringList{"a_L.jpg", "a_R.jpg", "b_L.jpg", "b_R.jpg"};
    QTest::newRow("wiggle gif") << QStringList{"--to", "wiggle", "--format", "gif"}
                                << QStringList{"a.gif", "b.gif"};
    QTest::newRow("heic") << QStringList{"--format", "heic"} << QStringList{"a.heic", "b.heic"};
    QTest::newRow("half-parallel png")
        << QStringList{"--to", "half-parallel", "--format", "png"} << QStringList{"a.png", "b.png"};
}

void StereoOutputsTest::batchWritesStereoFormats() {
    QFETCH(QStringList, options);
    QFETCH(QStringList, outputs);
    const QSize size(32, 16);
    const QString in = path("in");
    QVERIFY(QDir().mkpath(in));
    fixtures::makeFile(in, "a_L.png", fixtures::pngBytes(leftEye(size)));
    fixtures::makeFile(in, "a_R.png", fixtures::pngBytes(rightEye(size)));
    fixtures::makeFile(
        in, "b.mpo",
        fixtures::mpoBytes(
            {fixtures::jpegBytes(leftEye(size)), fixtures::jpegBytes(rightEye(size))}, false));

    const ProgramRun run = runTool(options + QStringList{"--batch", in, path("out")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(QDir(path("out")).entryList(QDir::Files), outputs);
    for (const QString &output : outputs) {
        const QString file = path("out/") + output;
        if (output.endsWith(u".mpo"))
            QCOMPARE(duoptica::ReadMpoIndex(fixtures::readFile(file)).images.size(), 2);
        else if (output.endsWith(u".heic"))
            QCOMPARE(
                duoptica::ReadHeifGroups(fixtures::readFile(file)).groups.value(0).entities.size(),
                2);
        else
            QCOMPARE(QImage(file).size(), size);
    }
}

// --fit WxH on two light 4:3 JPEG eyes (which the streamed path would take without it): the
// picture, where the middle row and column are not black, and black around it.
void StereoOutputsTest::fitMakesAFrameOfExactlyTheSizeAsked_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QRect>("picture");
    QTest::newRow("half-parallel for a 1080p TV, as a JPEG")
        << QStringList{"--to", "half-parallel", "--fit", "1920x1080"} << "tv.jpg"
        << QRect(240, 0, 1440, 1080);
    QTest::newRow("the anaglyph, as a BMP")
        << QStringList{"--fit", "1920x1080"} << "tv.bmp" << QRect(240, 0, 1440, 1080);
    QTest::newRow("parallel, black above and below")
        << QStringList{"--to", "parallel", "--fit", "1920x1080"} << "tv.bmp"
        << QRect(0, 180, 1920, 720);
    QTest::newRow("enlarged, rows on even offsets")
        << QStringList{"--to", "rows", "--fit", "803x300"} << "tv.png"
        << QRect(0, 0, 400, 300).translated(200, 0);
}

void StereoOutputsTest::fitMakesAFrameOfExactlyTheSizeAsked() {
    QFETCH(QStringList, options);
    QFETCH(QString, output);
    QFETCH(QRect, picture);
    const QSize eye(320, 240);
    QImage light(eye, QImage::Format_RGB32);
    light.fill(QColor(200, 190, 170));
    const QString left = fixtures::makeFile(dir_->path(), "l.jpg", fixtures::jpegBytes(light));
    light.fill(QColor(170, 200, 190));
    const QString right = fixtures::makeFile(dir_->path(), "r.jpg", fixtures::jpegBytes(light));

    const QString fit = options.last();
    const ProgramRun run = runTool(options << left << right << path(output));

    QCOMPARE(run.exitCode, 0);
    const QImage frame = QImage(path(output)).convertToFormat(QImage::Format_RGB32);
    QCOMPARE(frame.size(), QSize(fit.section(u'x', 0, 0).toInt(), fit.section(u'x', 1).toInt()));
    const auto shown = [&](int x, int y) { return qGray(frame.pixel(x, y)) > 24; };
    const QPoint middle = picture.center();
    QRect found(middle, middle);
    while (found.left() > 0 && shown(found.left() - 1, middle.y()))
        found.setLeft(found.left() - 1);
    while (found.right() + 1 < frame.width() && shown(found.right() + 1, middle.y()))
        found.setRight(found.right() + 1);
    while (found.top() > 0 && shown(middle.x(), found.top() - 1))
        found.setTop(found.top() - 1);
    while (found.bottom() + 1 < frame.height() && shown(middle.x(), found.bottom() + 1))
        found.setBottom(found.bottom() + 1);
    QCOMPARE(found, picture);
    for (const QPoint corner : {QPoint(0, 0), QPoint(frame.width() - 1, frame.height() - 1)})
        if (!picture.contains(corner))
            QVERIFY(!shown(corner.x(), corner.y()));
}

QTEST_GUILESS_MAIN(StereoOutputsTest)
#include "tst_stereooutputs.moc"
