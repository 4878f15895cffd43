// duoptica-combine's stages on the eyes as a user runs them: --match-colors, --resize and
// --max-size on every kind of input, for one pair and a batch.
#include "colour_pairs.h"
#include "picture_fixtures.h"
#include "run_program.h"
#include "synthetic_stereo.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QImageReader>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>

namespace {

ProgramRun runTool(const QStringList &arguments) {
    return runProgram(QStringLiteral(DUOPTICA_COMBINE), arguments);
}

QString sizeText(QSize size) {
    return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
}

// Smooth waves with a little grain, as a photograph has, at a camera's 300 dots an inch.
QImage photoLikePicture(QSize size) {
    QImage picture(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const int grain = int((x * 7919u + y * 104729u) % 17u) - 8;
            const auto channel = [grain](double wave) {
                return std::clamp(int(128 + 100 * std::sin(wave)) + grain, 0, 255);
            };
            picture.setPixel(
                x, y,
                qRgb(channel(x * 0.011), channel(y * 0.017 + x * 0.003), channel((x + y) * 0.007)));
        }
    picture.setDotsPerMeterX(11811);
    picture.setDotsPerMeterY(11811);
    return picture;
}

// A JPEG as Qt decodes it whole and turns it upright.
QImage decodedWhole(const QByteArray &jpeg) {
    QBuffer buffer;
    buffer.setData(jpeg);
    QImageReader reader(&buffer, "jpeg");
    reader.setAutoTransform(true);
    return reader.read();
}

// The mean difference of the two pictures' channels, in levels.
double meanDifference(const QImage &a, const QImage &b) {
    const QImage first = a.convertToFormat(QImage::Format_RGB32);
    const QImage second = b.convertToFormat(QImage::Format_RGB32);
    qint64 sum = 0;
    for (int y = 0; y < first.height(); ++y)
        for (int x = 0; x < first.width(); ++x) {
            const QRgb p = first.pixel(x, y), q = second.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    return double(sum) / (3. * first.width() * first.height());
}

} // namespace

class CombineStagesTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void sizesEachEyeKeepingItsAspect_data();
    void sizesEachEyeKeepingItsAspect();
    void keepsAFlatColourExactlyAndFineStripesGrey_data();
    void keepsAFlatColourExactlyAndFineStripesGrey();
    void alignsMatchesAndSizesAnMpoAloneAndInABatch();
    void windowAutoPutsTheNearestAtTheScreen_data();
    void windowAutoPutsTheNearestAtTheScreen();
    void eyesOfTwoSizesNeedAStageThatSizesThem_data();
    void eyesOfTwoSizesNeedAStageThatSizesThem();
    void shrinksJpegEyesAsIfDecodedWhole_data();
    void shrinksJpegEyesAsIfDecodedWhole();

private:
    QString path(const QString &name) const { return dir_->filePath(name); }
    std::optional<QTemporaryDir> dir_;
};

void CombineStagesTest::init() {
    dir_.emplace();
    QVERIFY(dir_->isValid());
}

void CombineStagesTest::sizesEachEyeKeepingItsAspect_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("input"); // bmp, jpg: a pair of files; png: side by side
    QTest::addColumn<QSize>("eye");
    QTest::addColumn<QSize>("output");
    QTest::newRow("box wider than the eye, BMP pair")
        << QStringList{"--resize", "160x100"} << "bmp" << QSize(300, 200) << QSize(150, 100);
    QTest::newRow("box taller than the eye, JPEG pair")
        << QStringList{"--resize", "160x200"} << "jpg" << QSize(300, 200) << QSize(160, 107);
    QTest::newRow("width only, enlarged")
        << QStringList{"--resize", "450"} << "bmp" << QSize(300, 200) << QSize(450, 300);
    QTest::newRow("longer side, landscape")
        << QStringList{"--max-size", "120"} << "jpg" << QSize(300, 200) << QSize(120, 80);
    QTest::newRow("longer side, portrait")
        << QStringList{"--max-size", "120"} << "bmp" << QSize(90, 140) << QSize(77, 120);
    QTest::newRow("longer side never enlarges")
        << QStringList{"--max-size", "1000"} << "jpg" << QSize(300, 200) << QSize(300, 200);
    QTest::newRow("each eye of a side-by-side picture, not the picture")
        << QStringList{"--layout", "parallel", "--resize", "150"} << "png" << QSize(300, 200)
        << QSize(150, 100);
}

void CombineStagesTest::sizesEachEyeKeepingItsAspect() {
    QFETCH(QStringList, options);
    QFETCH(QString, input);
    QFETCH(QSize, eye);
    QFETCH(QSize, output);
    const QImage left = fixtures::smoothPicture(eye);
    const QImage right = left.mirrored(true, false);
    QStringList arguments = options;
    if (input == u"png") {
        QImage both(eye.width() * 2, eye.height(), QImage::Format_RGB32);
        both.fill(Qt::black);
        QVERIFY(both.save(path("both.png")));
        arguments << path("both.png");
    } else {
        QVERIFY(left.save(path("left." + input)));
        QVERIFY(right.save(path("right." + input)));
        arguments << path("left." + input) << path("right." + input);
    }
    // The same format out as in, so the direct BMP and streamed JPEG paths are at hand.
    const QString out = path("out." + (input == u"png" ? QStringLiteral("bmp") : input));
    const ProgramRun run = runTool(arguments << out);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(sizeText(QImage(out).size()), sizeText(output));
}

void CombineStagesTest::keepsAFlatColourExactlyAndFineStripesGrey_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QSize>("eye");
    // Black and white columns one pixel wide, finer than the output can hold: shrunk by area
    // they turn grey; a filter that samples (Lanczos) keeps some at full contrast, aliased.
    QTest::addColumn<bool>("stripes");
    QTest::newRow("halved") << QStringList{"--max-size", "200"} << QSize(400, 300) << false;
    QTest::newRow("by an odd factor")
        << QStringList{"--max-size", "100"} << QSize(301, 203) << false;
    QTest::newRow("into a box") << QStringList{"--resize", "97x97"} << QSize(640, 480) << false;
    QTest::newRow("enlarged") << QStringList{"--resize", "517"} << QSize(301, 203) << false;
    QTest::newRow("stripes by an odd factor")
        << QStringList{"--max-size", "100"} << QSize(301, 203) << true;
}

void CombineStagesTest::keepsAFlatColourExactlyAndFineStripesGrey() {
    QFETCH(QStringList, options);
    QFETCH(QSize, eye);
    QFETCH(bool, stripes);
    const QColor colour(37, 150, 221);
    QImage picture(eye, QImage::Format_RGB32);
    picture.fill(colour);
    if (stripes)
        for (int y = 0; y < eye.height(); ++y)
            for (int x = 0; x < eye.width(); ++x)
                picture.setPixel(x, y, x % 2 == 0 ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
    QVERIFY(picture.save(path("left.bmp")));
    QVERIFY(picture.save(path("right.bmp")));
    // The window's average keeps a colour both eyes share.
    const ProgramRun run = runTool(QStringList{"--mode", "normal"} + options
                                   << path("left.bmp") << path("right.bmp") << path("out.png"));
    QCOMPARE(run.exitCode, 0);
    const QImage output = QImage(path("out.png")).convertToFormat(QImage::Format_RGB32);
    QVERIFY(output.size() != eye);
    // Each output pixel covers about three columns: one or two of the three white.
    const auto wrong = [&](QRgb pixel) {
        return stripes ? qGreen(pixel) < 255 / 3 - 2 || qGreen(pixel) > 2 * 255 / 3 + 2
                       : pixel != colour.rgb();
    };
    for (int y = 0; y < output.height(); ++y)
        for (int x = 0; x < output.width(); ++x)
            if (wrong(output.pixel(x, y)))
                QFAIL(qPrintable(
                    QStringLiteral("(%1, %2) is %3").arg(x).arg(y).arg(output.pixel(x, y), 8, 16)));
}

// The scene's nearest plane lies 7 pixels in front of the screen. The right eye may be half a
// degree turned, as --align corrects and leaves out of the measure without it. A dark box in
// front of it all, of a grain too faint and fine for the features the alignment is fitted on,
// is still the nearest thing a viewer sees.
void CombineStagesTest::windowAutoPutsTheNearestAtTheScreen_data() {
    QTest::addColumn<bool>("align");
    QTest::addColumn<double>("turn");
    QTest::addColumn<int>("boxDisparity"); // 0: no box
    QTest::addColumn<int>("shift");
    QTest::newRow("nearest plane, turned eyes left unwarped") << false << 0.5 << 0 << 7;
    QTest::newRow("nearest plane, aligned") << true << 0.5 << 0 << 7;
    QTest::newRow("faint box nearer than the scene, aligned") << true << 0.0 << -14 << 14;
}

void CombineStagesTest::windowAutoPutsTheNearestAtTheScreen() {
    QFETCH(bool, align);
    QFETCH(double, turn);
    QFETCH(int, boxDisparity);
    QFETCH(int, shift);
    const synthetic::Scene scene({640, 480});
    QImage left = scene.left();
    QImage right = scene.right({turn, 1.0, 0});
    if (boxDisparity != 0) {
        const QRect box(60, 300, 200, 120);
        QRandomGenerator grain(7);
        for (int y = box.top(); y <= box.bottom(); ++y)
            for (int x = box.left(); x <= box.right(); ++x) {
                const int grey = 50 + int(grain.bounded(28));
                left.setPixel(x, y, qRgb(grey, grey, grey));
                right.setPixel(x + boxDisparity, y, qRgb(grey, grey, grey));
            }
    }
    QVERIFY(left.save(path("l.png")));
    QVERIFY(right.save(path("r.png")));
    QStringList arguments{"--window",    "auto",        "--mode",       "normal",
                          path("l.png"), path("r.png"), path("out.png")};
    if (align)
        arguments.prepend("--align");
    const ProgramRun run = runTool(arguments);
    QCOMPARE(run.exitCode, 0);
    const QRegularExpression moved(align ? QStringLiteral("window shift (-?\\d+)\\.\\d px")
                                         : QStringLiteral("moved (-?\\d+) pixels to the right"));
    const QRegularExpressionMatch match = moved.match(QString::fromLocal8Bit(run.err));
    QVERIFY2(match.hasMatch(), run.err.constData());
    const int measured = match.captured(1).toInt();
    QVERIFY2(std::abs(measured - shift) <= 1, run.err.constData());
    if (!align)
        QCOMPARE(QImage(path("out.png")).width(), 640 - measured);
}

void CombineStagesTest::eyesOfTwoSizesNeedAStageThatSizesThem_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("status");
    QTest::addColumn<QSize>("output"); // empty: none written
    QTest::newRow("without a stage: not equal size") << QStringList() << 4 << QSize();
    QTest::newRow("aligned onto the left eye") << QStringList{"--align"} << 0 << QSize(640, 480);
    QTest::newRow("both sized to one size")
        << QStringList{"--max-size", "320"} << 0 << QSize(320, 240);
}

// A rig of two cameras: the right eye the same scene at 650 x 488.
void CombineStagesTest::eyesOfTwoSizesNeedAStageThatSizesThem() {
    QFETCH(QStringList, options);
    QFETCH(int, status);
    QFETCH(QSize, output);
    const synthetic::Scene scene({640, 480});
    QVERIFY(scene.left().save(path("l.png")));
    QVERIFY(scene.right({0.0, 1.0, 0})
                .scaled(650, 488, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                .save(path("r.png")));
    const ProgramRun run =
        runTool(options + QStringList{path("l.png"), path("r.png"), path("out.png")});
    QCOMPARE(run.exitCode, status);
    if (output.isEmpty()) {
        QVERIFY(run.err.contains("Pictures not equal size!"));
        QVERIFY(!QFile::exists(path("out.png")));
        return;
    }
    QVERIFY(run.err.contains("brought from 650x488 to"));
    // Aligned, the crop to what both show takes a few pixels off at most.
    const QSize written = QImage(path("out.png")).size();
    QVERIFY2(written.width() <= output.width() && written.width() >= output.width() - 24 &&
                 written.height() <= output.height() && written.height() >= output.height() - 24,
             qPrintable(sizeText(written)));
}

void CombineStagesTest::alignsMatchesAndSizesAnMpoAloneAndInABatch() {
    // A twin camera's MPO: the right eye turned, scaled, lower, and of another exposure and
    // white balance.
    const synthetic::Scene scene({900, 600});
    const QImage right = colourpairs::withColourError(
        scene.right({1.0, 1.02, 4}).convertToFormat(QImage::Format_RGB32),
        {1.3, 1.15, {0.92, 1, 1.08}});
    const QByteArray mpo =
        fixtures::mpoBytes({fixtures::jpegBytes(scene.left()), fixtures::jpegBytes(right)}, false);
    QVERIFY(QDir(dir_->path()).mkdir(QStringLiteral("in")));
    QVERIFY(fixtures::writeFile(path("pair.mpo"), mpo));
    QVERIFY(fixtures::writeFile(path("in/trip.mpo"), mpo));
    QVERIFY(scene.left().save(path("in/card_L.png")));
    QVERIFY(right.save(path("in/card_R.png")));
    const QStringList stages{"--align", "--match-colors", "--max-size",
                             "400",     "--mode",         "dubois-red-cyan"};

    const ProgramRun one = runTool(QStringList(stages) << path("pair.mpo") << path("out.png"));
    const ProgramRun batch = runTool(QStringList(stages) << "--format"
                                                         << "png"
                                                         << "--batch" << path("in") << path("out"));

    QCOMPARE(one.exitCode, 0);
    QCOMPARE(batch.exitCode, 0);
    const QString err = QString::fromLocal8Bit(one.err + batch.err);
    QCOMPARE(err.count(QStringLiteral(": aligned with ")), 3);
    QCOMPARE(err.count(QStringLiteral(": colours matched to the left eye: levels 64 128 192 "
                                      "became red ")),
             3);
    for (const char *output : {"out.png", "out/trip.png", "out/card.png"}) {
        const QSize size = QImage(path(QString::fromLatin1(output))).size();
        // Cropped by the alignment, then the longer side brought to 400.
        QVERIFY2(size.width() == 400 && size.height() > 240 && size.height() < 270,
                 qPrintable(QString::fromLatin1(output) + u' ' + sizeText(size)));
    }
}

void CombineStagesTest::shrinksJpegEyesAsIfDecodedWhole_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QSize>("eye");        // as stored
    QTest::addColumn<QString>("input");    // jpg: a pair of files; mpo
    QTest::addColumn<int>("orientation");  // EXIF, of both eyes; 0 for none
    QTest::addColumn<double>("tolerance"); // mean difference, in levels
    // Shrunk less than 4x, the eyes are decoded whole as ever.
    QTest::newRow("2x, --max-size")
        << QStringList{"--max-size", "320"} << QSize(640, 480) << "jpg" << 0 << 0.;
    QTest::newRow("3x, --resize into a box")
        << QStringList{"--resize", "300x300"} << QSize(960, 640) << "jpg" << 0 << 0.;
    QTest::newRow("4x, --resize a width")
        << QStringList{"--resize", "320"} << QSize(1280, 960) << "jpg" << 0 << 1.;
    QTest::newRow("8x, --max-size")
        << QStringList{"--max-size", "200"} << QSize(1600, 1200) << "jpg" << 0 << 1.;
    QTest::newRow("16x, an MPO") << QStringList{"--max-size", "100"} << QSize(1600, 1072) << "mpo"
                                 << 0 << 1.;
    QTest::newRow("8x, turned a quarter (orientation 6)")
        << QStringList{"--max-size", "200"} << QSize(1600, 1200) << "jpg" << 6 << 1.;
}

void CombineStagesTest::shrinksJpegEyesAsIfDecodedWhole() {
    QFETCH(QStringList, options);
    QFETCH(QSize, eye);
    QFETCH(QString, input);
    QFETCH(int, orientation);
    QFETCH(double, tolerance);
    const QImage picture = photoLikePicture(eye);
    const QByteArray left = orientation != 0 ? fixtures::jpegWithOrientation(picture, orientation)
                                             : fixtures::jpegBytes(picture);
    const QImage mirrored = picture.mirrored(true, false);
    const QByteArray right = orientation != 0 ? fixtures::jpegWithOrientation(mirrored, orientation)
                                              : fixtures::jpegBytes(mirrored);
    QStringList jpegInputs;
    if (input == u"mpo") {
        QVERIFY(fixtures::writeFile(path("pair.mpo"), fixtures::mpoBytes({left, right}, false)));
        jpegInputs << path("pair.mpo");
    } else {
        QVERIFY(fixtures::writeFile(path("left.jpg"), left));
        QVERIFY(fixtures::writeFile(path("right.jpg"), right));
        jpegInputs << path("left.jpg") << path("right.jpg");
    }
    // The same eyes decoded whole and kept losslessly: the tool shrinks them as it always has.
    QVERIFY(decodedWhole(left).save(path("left.png")));
    QVERIFY(decodedWhole(right).save(path("right.png")));
    options << "--to"
            << "parallel";

    const ProgramRun run = runTool(QStringList(options) + jpegInputs << path("out.png"));
    const ProgramRun whole =
        runTool(QStringList(options) << path("left.png") << path("right.png") << path("whole.png"));

    QCOMPARE(run.exitCode, 0);
    QCOMPARE(whole.exitCode, 0);
    const QImage output(path("out.png"));
    const QImage expected(path("whole.png"));
    QCOMPARE(sizeText(output.size()), sizeText(expected.size()));
    const double difference = meanDifference(output, expected);
    QVERIFY2(difference <= tolerance, qPrintable(QString::number(difference)));
    // The camera's resolution, not that of a picture made smaller.
    QCOMPARE(output.dotsPerMeterX(), 11811);
    QCOMPARE(output.dotsPerMeterY(), 11811);
}

QTEST_MAIN(CombineStagesTest)
#include "tst_combinestages.moc"
