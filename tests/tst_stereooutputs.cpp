// duoptica-combine --to: the eyes written for stereo viewers, read back as a viewer or another
// program would read them.
#include "general_path.h"
#include "heif_boxes.h"
#include "mpo_index.h"
#include "pair_paths.h"
#include "picture_fixtures.h"
#include "run_program.h"
#include "synthetic_stereo.h"

#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

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
    void wiggleAlternatesTheEyes_data();
    void wiggleAlternatesTheEyes();
    void streamsSideBySideIntoTheWholePicturesBytes_data();
    void streamsSideBySideIntoTheWholePicturesBytes();
    void pairThatCannotBeWrittenLeavesTheFolderAsItWas_data();
    void pairThatCannotBeWrittenLeavesTheFolderAsItWas();
    void batchWritesStereoFormats_data();
    void batchWritesStereoFormats();

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
        // Nor an IFD for a thumbnail, empty or not.
        for (const QString &key : tags.keys())
            QVERIFY2(!key.startsWith(u"IFD1:"), qPrintable(files[i] + u' ' + key));
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

void StereoOutputsTest::streamsSideBySideIntoTheWholePicturesBytes_data() {
    QTest::addColumn<duoptica::StereoOutput>("to");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<bool>("asMpo");
    QTest::addColumn<bool>("swap");
    QTest::newRow("parallel jpeg")
        << duoptica::StereoOutput::Parallel << QByteArray("jpg") << false << false;
    QTest::newRow("cross jpeg from an mpo, swapped")
        << duoptica::StereoOutput::Cross << QByteArray("jpg") << true << true;
    QTest::newRow("jps") << duoptica::StereoOutput::Jps << QByteArray("jpg") << false << false;
    QTest::newRow("parallel bmp") << duoptica::StereoOutput::Parallel << QByteArray("bmp") << true
                                  << false;
}

void StereoOutputsTest::streamsSideBySideIntoTheWholePicturesBytes() {
    QFETCH(duoptica::StereoOutput, to);
    QFETCH(QByteArray, format);
    QFETCH(bool, asMpo);
    QFETCH(bool, swap);
    // Odd sizes and more rows than a band.
    const QSize size(301, 77);
    const QList<QByteArray> eyes{fixtures::jpegBytes(leftEye(size)),
                                 fixtures::jpegBytes(rightEye(size))};
    duoptica::PairJob job{
        .leftFile = fixtures::makeFile(dir_->path(), "l.jpg", eyes[0]),
        .rightFile = fixtures::makeFile(dir_->path(), "r.jpg", eyes[1]),
        .outputFile = path("whole." + format),
        .settings = {.to = to, .format = duoptica::outputFormatNamed(format)->file, .swap = swap}};
    if (asMpo) {
        job.leftFile = fixtures::makeFile(dir_->path(), "in.mpo", fixtures::mpoBytes(eyes, false));
        job.rightFile.clear();
        job.layout = duoptica::StereoLayout::FromFile;
    }
    QCOMPARE(int(duoptica::combineWholePictures(job, duoptica::Threads::All).code), 0);
    job.outputFile = path("streamed." + format);
    const std::optional<duoptica::Outcome> streamed =
        runOnPath(duoptica::PairPath::JpegStreamed, job, duoptica::Threads::All);
    QVERIFY(streamed.has_value());
    QCOMPARE(int(streamed->code), 0);
    QCOMPARE(fixtures::readFile(path("streamed." + format)),
             fixtures::readFile(path("whole." + format)));
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

QTEST_GUILESS_MAIN(StereoOutputsTest)
#include "tst_stereooutputs.moc"
