// Which path a pair takes: the plan made from its probed inputs and settings.
#include "pair_files.h"
#include "picture_fixtures.h"

#include <QTemporaryDir>
#include <QTest>

using duoptica::FileFormat;
using duoptica::PairPath;
using duoptica::StereoLayout;
using duoptica::StereoOutput;

class PairPlanTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void choosesTheFirstPathThatAcceptsTheJob_data();
    void choosesTheFirstPathThatAcceptsTheJob();

private:
    QString path(const QString &name) const { return dir_.filePath(name); }

    QTemporaryDir dir_;
};

void PairPlanTest::initTestCase() {
    QVERIFY(dir_.isValid());
    const QImage left = fixtures::patternPicture({48, 32}, 16);
    const QImage right = left.mirrored(true, false);
    const QList<QByteArray> eyes{fixtures::jpegBytes(left), fixtures::jpegBytes(right)};
    for (const auto &[name, bytes] :
         {std::pair{"l.jpg", eyes[0]},
          {"r.jpg", eyes[1]},
          {"turned.jpg", fixtures::jpegWithOrientation(right, 6)},
          {"small.jpg", fixtures::jpegBytes(right.copy(0, 0, 40, 32))},
          {"both.jpg", fixtures::jpegBytes(left.scaled(96, 32))},
          {"pair.mpo", fixtures::mpoBytes(eyes, false)},
          {"l.bmp", fixtures::bmpBytes(left, fixtures::BmpLayout::Rgb24)},
          {"r.bmp", fixtures::bmpBytes(right, fixtures::BmpLayout::Rgb24)},
          {"r.png", fixtures::pngBytes(right)},
          {"pair.heic", fixtures::heicBytes({left, right}, {1, 2})},
          {"leia.jpg", fixtures::lifBytes(eyes[0], eyes[1])}})
        QVERIFY(fixtures::writeFile(path(name), bytes));
}

void PairPlanTest::choosesTheFirstPathThatAcceptsTheJob_data() {
    QTest::addColumn<QStringList>("inputs"); // one file holding both eyes, or two
    QTest::addColumn<StereoLayout>("layout");
    QTest::addColumn<duoptica::PairSettings>("settings");
    QTest::addColumn<PairPath>("path");
    using S = duoptica::PairSettings;
    const StereoLayout pair = StereoLayout::Pair;
    const QStringList jpegs{"l.jpg", "r.jpg"};
    QTest::newRow("JPEG eyes into an MPO: copied")
        << jpegs << pair << S{.to = StereoOutput::Mpo, .format = FileFormat::Jpeg}
        << PairPath::LosslessCopy;
    QTest::newRow("an MPO into a JPEG pair: copied")
        << QStringList{"pair.mpo"} << StereoLayout::FromFile
        << S{.to = StereoOutput::Pair, .format = FileFormat::Jpeg} << PairPath::LosslessCopy;
    QTest::newRow("into an MPO, resized: decoded")
        << jpegs << pair
        << S{.to = StereoOutput::Mpo,
             .format = FileFormat::Jpeg,
             .adjust = {.matchColors = false, .size = duoptica::EyeSize{.width = 24}}}
        << PairPath::WholePictures;
    QTest::newRow("into an MPO, a turned eye: decoded")
        << QStringList{"l.jpg", "turned.jpg"} << pair
        << S{.to = StereoOutput::Mpo, .format = FileFormat::Jpeg} << PairPath::WholePictures;
    QTest::newRow("BMP eyes into a BMP: direct")
        << QStringList{"l.bmp", "r.bmp"} << pair << S{} << PairPath::BmpDirect;
    QTest::newRow("BMP eyes, swapped, into a BMP: direct")
        << QStringList{"l.bmp", "r.bmp"} << pair << S{.swap = true} << PairPath::BmpDirect;
    QTest::newRow("BMP and PNG into a BMP: whole")
        << QStringList{"l.bmp", "r.png"} << pair << S{} << PairPath::WholePictures;
    QTest::newRow("BMP eyes into a PNG: whole")
        << QStringList{"l.bmp", "r.bmp"} << pair << S{.format = FileFormat::Png}
        << PairPath::WholePictures;
    QTest::newRow("BMP eyes, window shift: whole")
        << QStringList{"l.bmp", "r.bmp"} << pair << S{.windowShift = 4} << PairPath::WholePictures;
    QTest::newRow("JPEG eyes into a BMP: streamed")
        << jpegs << pair << S{} << PairPath::JpegStreamed;
    QTest::newRow("JPEG eyes side by side into a JPEG: streamed")
        << jpegs << pair << S{.to = StereoOutput::Parallel, .format = FileFormat::Jpeg}
        << PairPath::JpegStreamed;
    QTest::newRow("an MPO into a JPEG: streamed")
        << QStringList{"pair.mpo"} << StereoLayout::FromFile << S{.format = FileFormat::Jpeg}
        << PairPath::JpegStreamed;
    QTest::newRow("one JPEG of both eyes, cross: streamed")
        << QStringList{"both.jpg"} << StereoLayout::Cross << S{} << PairPath::JpegStreamed;
    QTest::newRow("an MPO cut in two: whole")
        << QStringList{"pair.mpo"} << StereoLayout::Parallel << S{} << PairPath::WholePictures;
    QTest::newRow("JPEG eyes of two sizes: whole")
        << QStringList{"l.jpg", "small.jpg"} << pair << S{} << PairPath::WholePictures;
    QTest::newRow("JPEG eyes over-under: streamed")
        << jpegs << pair << S{.to = StereoOutput::OverUnder} << PairPath::JpegStreamed;
    QTest::newRow("JPEG eyes half over-under: whole")
        << jpegs << pair << S{.to = StereoOutput::HalfOverUnder} << PairPath::WholePictures;
    QTest::newRow("JPEG eyes shrunk side by side: streamed")
        << jpegs << pair
        << S{.to = StereoOutput::Parallel,
             .adjust = {.matchColors = false,
                        .size =
                            duoptica::EyeSize{.kind = duoptica::EyeSize::Kind::Width, .width = 24}}}
        << PairPath::JpegStreamed;
    QTest::newRow("JPEG eyes enlarged: whole")
        << jpegs << pair
        << S{.adjust = {.matchColors = false,
                        .size =
                            duoptica::EyeSize{.kind = duoptica::EyeSize::Kind::Width, .width = 60}}}
        << PairPath::WholePictures;
    QTest::newRow("JPEG eyes shrunk, colours matched: whole")
        << jpegs << pair
        << S{.adjust = {.matchColors = true, .size = duoptica::EyeSize{.width = 24}}}
        << PairPath::WholePictures;
    QTest::newRow("JPEG eyes aligned: whole")
        << jpegs << pair << S{.align = duoptica::AlignOptions{}} << PairPath::WholePictures;
    QTest::newRow("a stereo HEIC into a JPEG: whole")
        << QStringList{"pair.heic"} << StereoLayout::FromFile << S{.format = FileFormat::Jpeg}
        << PairPath::WholePictures;
    QTest::newRow("a stereo HEIC into an MPO: whole")
        << QStringList{"pair.heic"} << StereoLayout::FromFile
        << S{.to = StereoOutput::Mpo, .format = FileFormat::Jpeg} << PairPath::WholePictures;
    QTest::newRow("a LIF of JPEG eyes into a JPEG: whole")
        << QStringList{"leia.jpg"} << StereoLayout::FromFile << S{.format = FileFormat::Jpeg}
        << PairPath::WholePictures;
    QTest::newRow("a folder as an eye: whole")
        << QStringList{"l.jpg", "."} << pair << S{} << PairPath::WholePictures;
}

void PairPlanTest::choosesTheFirstPathThatAcceptsTheJob() {
    QFETCH(QStringList, inputs);
    QFETCH(StereoLayout, layout);
    QFETCH(duoptica::PairSettings, settings);
    QFETCH(PairPath, path);
    const duoptica::PairJob job{.leftFile = this->path(inputs[0]),
                                .rightFile = inputs.size() > 1 ? this->path(inputs[1]) : QString(),
                                .outputFile = this->path(QStringLiteral("out")),
                                .layout = layout,
                                .settings = settings};
    const duoptica::PairPlan plan = duoptica::planPair(job);
    QVERIFY2(plan.path == path, qPrintable(QStringLiteral("%1 (%2)").arg(
                                    duoptica::pairPathName(plan.path), plan.why)));
}

QTEST_GUILESS_MAIN(PairPlanTest)
#include "tst_pairplan.moc"
