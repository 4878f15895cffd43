// --align on made-up stereo pairs whose true geometry is known: what is left of the vertical
// disparity, what becomes of the horizontal one, and which pairs are refused. The hard pairs are
// made hard the ways real ones are: fine repetitive texture, a small sharp subject on a soft
// background, and the keystone of toed-in cameras. And the crop both eyes are cut to.
#include "align_stage.h"
#include "alignment_fit.h"
#include "common_rectangle.h"
#include "row_matches.h"
#include "synthetic_stereo.h"

#include <QTest>

#include <opencv2/imgproc.hpp>

#include <thread>

using duoptica::AlignOptions;
using duoptica::align::PixelRect;
using duoptica::align::Similarity;
using duoptica::align::WindowPlacement;

Q_DECLARE_METATYPE(synthetic::Texture)
Q_DECLARE_METATYPE(duoptica::align::Homography)

namespace {

constexpr QSize kPictureSize(1200, 800); // big enough to find features on a reduced copy

// The hard textures come at the sizes of the pictures that have them: a small camera's low-light
// picture, a fog scene or a macro of a small web picture.
QSize sizeFor(synthetic::Texture texture) {
    switch (texture) {
    case synthetic::Texture::LowLight:
        return {640, 480};
    case synthetic::Texture::Fog:
        return {600, 400};
    case synthetic::Texture::Macro:
    case synthetic::Texture::Bee:
        return {800, 600};
    default:
        return kPictureSize;
    }
}

} // namespace

Q_DECLARE_METATYPE(Similarity)

class AlignEyesTest : public QObject {
    Q_OBJECT

private slots:
    void alignsOrRefusesThePair_data();
    void alignsOrRefusesThePair();
    void rowSearchKeepsOnlyClearUniqueMatches_data();
    void rowSearchKeepsOnlyClearUniqueMatches();
    void residualIsJudgedAgainstThePointsNoise_data();
    void residualIsJudgedAgainstThePointsNoise();
    void samePairGivesTheSameBytes_data();
    void samePairGivesTheSameBytes();
    void cropIsTheLargestTheRightPictureCovers_data();
    void cropIsTheLargestTheRightPictureCovers();
    void cropHoldsOnlyPixelsTheRightPictureCovers_data();
    void cropHoldsOnlyPixelsTheRightPictureCovers();
};

void AlignEyesTest::alignsOrRefusesThePair_data() {
    QTest::addColumn<double>("rotation");
    QTest::addColumn<double>("scale");
    QTest::addColumn<double>("verticalOffset");
    QTest::addColumn<double>("toeIn");
    QTest::addColumn<double>("distortion");
    QTest::addColumn<synthetic::Texture>("texture");
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("refusalMentions"); // empty when the pair must align

    using synthetic::Texture;
    QTest::newRow("vertical offset only") << 0.0 << 1.0 << 6.5 << 0.0 << 0.0 << Texture::Noise << ""
                                          << "";
    QTest::newRow("turned 0.5 degrees, offset up")
        << 0.5 << 1.0 << -3.0 << 0.0 << 0.0 << Texture::Noise << ""
        << "";
    QTest::newRow("turned -3 degrees, 3% larger")
        << -3.0 << 1.03 << 4.2 << 0.0 << 0.0 << Texture::Noise << ""
        << "";
    QTest::newRow("turned 1.2 degrees, 3% smaller")
        << 1.2 << 0.97 << 0.0 << 0.0 << 0.0 << Texture::Noise << ""
        << "";
    QTest::newRow("window auto puts the nearest at the screen")
        << 2.0 << 1.01 << -4.0 << 0.0 << 0.0 << Texture::Noise << "auto"
        << "";
    QTest::newRow("window shifted 15 pixels")
        << 0.0 << 1.0 << 2.0 << 0.0 << 0.0 << Texture::Noise << "15"
        << "";
    QTest::newRow("tiled floor, turned 3 degrees, 3% larger")
        << 3.0 << 1.03 << 2.5 << 0.0 << 0.0 << Texture::Tiles << ""
        << "";
    QTest::newRow("tiled floor, turned -0.5 degrees")
        << -0.5 << 1.0 << -4.0 << 0.0 << 0.0 << Texture::Tiles << ""
        << "";
    QTest::newRow("sharp subject on a soft background, turned 2 degrees, 3% smaller")
        << 2.0 << 0.97 << 3.0 << 0.0 << 0.0 << Texture::SharpSubject << ""
        << "";
    QTest::newRow("keystone of 1.5 degrees toe-in")
        << 0.0 << 1.0 << 2.0 << 1.5 << 0.0 << Texture::Noise << ""
        << "";
    QTest::newRow("keystone of 1.5 degrees toe-in, turned 1 degree, 2% larger, window auto")
        << 1.0 << 1.02 << -3.0 << -1.5 << 0.0 << Texture::Noise << "auto"
        << "";
    QTest::newRow("keystone of 1.5 degrees toe-in on a tiled floor")
        << -1.0 << 1.0 << 1.0 << 1.5 << 0.0 << Texture::Tiles << ""
        << "";
    QTest::newRow("macro: small sharp subject, background blurred flat, turned 1 degree")
        << 1.0 << 1.0 << 3.0 << 0.0 << 0.0 << Texture::Macro << ""
        << "";
    QTest::newRow("macro: a subject too small for enough points, refused")
        << 1.0 << 1.0 << 3.0 << 0.0 << 0.0 << Texture::Bee << ""
        << "too few matching features";
    QTest::newRow("low light, dark and noisy, turned 1 degree")
        << 1.0 << 1.0 << 3.0 << 0.0 << 0.0 << Texture::LowLight << ""
        << "";
    QTest::newRow("fog of faint soft contrast, offset down")
        << 0.0 << 1.0 << 6.0 << 0.0 << 0.0 << Texture::Fog << ""
        << "";
    QTest::newRow("fog, turned -1 degree, 2% larger, window auto")
        << -1.0 << 1.02 << -2.0 << 0.0 << 0.0 << Texture::Fog << "auto"
        << "";
    // A rotation of 90 turns the whole pair, as a camera held sideways does, not the right eye.
    QTest::newRow("pair turned 90 degrees refused")
        << 90.0 << 1.0 << 0.0 << 0.0 << 0.0 << Texture::Noise << ""
        << "turned 90 degrees";
    QTest::newRow("featureless pair refused")
        << 0.0 << 1.0 << 3.0 << 0.0 << 0.0 << Texture::Flat << ""
        << "features";
    QTest::newRow("right lens distorted, fitting no alignment, refused")
        << 0.0 << 1.0 << 0.0 << 0.0 << 0.06 << Texture::Noise << ""
        << "do not fit one alignment";
    QTest::newRow("turned 8 degrees refused")
        << 8.0 << 1.0 << 0.0 << 0.0 << 0.0 << Texture::Noise << ""
        << "turned -8.0 degrees";
    QTest::newRow("15% larger refused") << 0.0 << 1.15 << 0.0 << 0.0 << 0.0 << Texture::Noise << ""
                                        << "differ -13.0% in scale";
    // A keystone correction is moved through its perspective: a shift added as to a similarity
    // lands off by the shift times the perspective's departure from 1, most at the edges.
    QTest::newRow("keystone of 1.5 degrees toe-in, window shifted 200 pixels")
        << 0.0 << 1.0 << 2.0 << 1.5 << 0.0 << Texture::Noise << "200"
        << "";
}

void AlignEyesTest::alignsOrRefusesThePair() {
    QFETCH(double, rotation);
    QFETCH(double, scale);
    QFETCH(double, verticalOffset);
    QFETCH(double, toeIn);
    QFETCH(double, distortion);
    QFETCH(synthetic::Texture, texture);
    QFETCH(QString, window);
    QFETCH(QString, refusalMentions);
    const QSize size = sizeFor(texture);
    const synthetic::Scene scene(size, texture);
    QImage left = scene.left();
    QImage right = scene.right({rotation, scale, verticalOffset, toeIn, distortion});
    if (rotation == 90) {
        left = left.transformed(QTransform().rotate(90));
        right = scene.right({}).transformed(QTransform().rotate(90));
    }
    AlignOptions options;
    double windowShift = 0;
    if (window == u"auto") {
        options.window.kind = WindowPlacement::Kind::NearestAtScreen;
        windowShift = -scene.nearestDisparity();
    } else if (!window.isEmpty()) {
        options.window = {WindowPlacement::Kind::Shift, window.toInt()};
        windowShift = window.toInt();
    }

    QString refusal;
    const auto aligned = duoptica::alignEyes(left, right, options, &refusal);

    if (!refusalMentions.isEmpty()) {
        QVERIFY(!aligned);
        QVERIFY2(refusal.contains(refusalMentions), qPrintable(refusal));
        QCOMPARE(left.size(), rotation == 90 ? size.transposed() : size);
        return;
    }
    QVERIFY2(aligned, qPrintable(refusal));
    QCOMPARE(right.size(), left.size());
    const QPoint origin(aligned->layout.crop.x, aligned->layout.crop.y);
    QList<double> vertical;
    for (const synthetic::Marker &marker : scene.markers()) {
        const QPointF expected = marker.left - origin;
        const QPointF expectedRight = expected + QPointF(marker.disparity + windowShift, 0);
        const QRectF inside = QRectF(QPointF(0, 0), QSizeF(left.size())).adjusted(8, 8, -8, -8);
        if (!inside.contains(expected) || !inside.contains(expectedRight))
            continue;
        const QPointF inLeft = synthetic::markerCentre(left, expected);
        const QPointF inRight = synthetic::markerCentre(right, expectedRight);
        const QString where = QStringLiteral("marker at (%1, %2) with disparity %3: left (%4, "
                                             "%5), right (%6, %7)")
                                  .arg(marker.left.x())
                                  .arg(marker.left.y())
                                  .arg(marker.disparity)
                                  .arg(inLeft.x())
                                  .arg(inLeft.y())
                                  .arg(inRight.x())
                                  .arg(inRight.y());
        QVERIFY2((inLeft - expected).manhattanLength() < 0.2, qPrintable(where));
        QVERIFY2(std::abs(inRight.y() - inLeft.y()) < 0.5, qPrintable(where));
        QVERIFY2(std::abs(inRight.x() - inLeft.x() - marker.disparity - windowShift) < 0.5,
                 qPrintable(where));
        vertical << std::abs(inRight.y() - inLeft.y());
    }
    QVERIFY2(vertical.size() >= 40 * size.width() * size.height() / (1200 * 800),
             qPrintable(QString::number(vertical.size())));
    std::sort(vertical.begin(), vertical.end());
    const double median = vertical[vertical.size() / 2];
    QVERIFY2(median <= 0.3, qPrintable(QString::number(median)));
    // The corners too: the alignment's own 95th percentile over its points.
    QVERIFY2(aligned->fit.residualVertical95 <= 1.0,
             qPrintable(QString::number(aligned->fit.residualVertical95)));
}

// When the features refine too few points, patches are looked for along their rows: a match is
// kept only where it is clear and unique, never on texture that repeats along the row or is too
// faint, never beyond the disparities looked in.
void AlignEyesTest::rowSearchKeepsOnlyClearUniqueMatches_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("disparity");
    QTest::addColumn<double>("farthest"); // looked in from -farthest to farthest
    QTest::addColumn<bool>("found");
    QTest::newRow("texture, 9 pixels apart") << "texture" << 9 << 12.0 << true;
    QTest::newRow("texture, 7 pixels the other way") << "texture" << -7 << 12.0 << true;
    QTest::newRow("texture beyond the disparities looked in") << "texture" << 20 << 12.0 << false;
    QTest::newRow("bars repeating along the row") << "bars" << 3 << 12.0 << false;
    QTest::newRow("texture too faint to tell") << "faint" << 5 << 12.0 << false;
}

void AlignEyesTest::rowSearchKeepsOnlyClearUniqueMatches() {
    QFETCH(QString, pattern);
    QFETCH(int, disparity);
    QFETCH(double, farthest);
    QFETCH(bool, found);
    constexpr int kVertical = 2; // the right eye sits this much lower; the estimate knows it
    cv::Mat scene(200, 260, CV_8U, cv::Scalar(128));
    cv::RNG random(7);
    if (pattern == u"texture" || pattern == u"faint") {
        const double amplitude = pattern == u"texture" ? 88 : 2;
        random.fill(scene, cv::RNG::UNIFORM, 128 - amplitude, 128 + amplitude);
        cv::GaussianBlur(scene, scene, cv::Size(), 1.5);
    } else if (pattern == u"bars") {
        // Bars 8 pixels apart, each row lighter or darker than the next.
        for (int y = 0; y < scene.rows; ++y) {
            const int shade = random.uniform(-30, 30);
            for (int x = 0; x < scene.cols; ++x)
                scene.at<std::uint8_t>(y, x) = std::uint8_t((x % 8 < 4 ? 70 : 180) + shade);
        }
    }
    const cv::Rect seen(20, 20, 200, 160);
    const cv::Mat left = scene(seen).clone();
    const cv::Mat right = scene(seen - cv::Point(disparity, kVertical)).clone();
    duoptica::align::RowSearch search;
    search.rightToLeft = {{1, 0, 0, 0, 1, -kVertical, 0, 0, 1}};
    search.nearest = -farthest;
    search.farthest = farthest;
    search.columns = 8;
    search.rows = 6;
    const std::vector<duoptica::align::RowMatch> matches =
        duoptica::align::matchAlongRows(left, right, search);
    if (!found) {
        QCOMPARE(int(matches.size()), 0);
        return;
    }
    // All but the cells at the sides, whose range runs off the picture.
    QVERIFY2(matches.size() >= 30, qPrintable(QString::number(matches.size())));
    for (const duoptica::align::RowMatch &match : matches) {
        QCOMPARE(match.right.x - match.left.x, double(disparity));
        QCOMPARE(match.right.y - match.left.y, double(kVertical));
    }
}

// With the limit set below what a pair leaves, the noise of its points may still excuse the
// residual; a misfit that neighbouring points share is not noise.
void AlignEyesTest::residualIsJudgedAgainstThePointsNoise_data() {
    QTest::addColumn<synthetic::Texture>("texture");
    QTest::addColumn<double>("distortion");
    QTest::addColumn<bool>("aligns");
    QTest::newRow("noisy points excuse their residual")
        << synthetic::Texture::LowLight << 0.0 << true;
    QTest::newRow("a lens's smooth misfit is not noise")
        << synthetic::Texture::Noise << 0.02 << false;
}

void AlignEyesTest::residualIsJudgedAgainstThePointsNoise() {
    QFETCH(synthetic::Texture, texture);
    QFETCH(double, distortion);
    QFETCH(bool, aligns);
    const synthetic::Scene scene(sizeFor(texture), texture);
    const QImage left = scene.left();
    const QImage right = scene.right({1.0, 1.0, 3.0, 0, distortion});
    const auto view = [](const QImage &picture) {
        return duoptica::align::PixelView{
            reinterpret_cast<const std::uint32_t *>(picture.constBits()), picture.width(),
            picture.height(), picture.bytesPerLine() / qsizetype(sizeof(std::uint32_t))};
    };
    duoptica::align::AlignmentLimits limits;
    limits.maxResidual = 0.1;
    const duoptica::align::FitResult result =
        duoptica::align::fitAlignment(view(left), view(right), limits);
    const QString report = QStringLiteral("%1 (median %2 px, noise %3 px)")
                               .arg(QString::fromStdString(result.refusal))
                               .arg(result.attempt.residualVertical)
                               .arg(result.attempt.residualNoise);
    QVERIFY2(result.attempt.residualVertical > limits.maxResidual, qPrintable(report));
    QCOMPARE(result.fit.has_value(), aligns);
    if (!aligns)
        QVERIFY2(result.refusal.find("do not fit one alignment") != std::string::npos,
                 qPrintable(report));
}

struct Aligned {
    QImage left, right;
    QString refusal;
};

Aligned alignedOnce(const QImage &left, const QImage &right) {
    Aligned result{left, right, {}};
    duoptica::alignEyes(result.left, result.right, {}, &result.refusal);
    return result;
}

// What ran on a thread before (other pairs and their random draws) must not change a pair's
// alignment: a batch gives each pair whichever thread is free.
void AlignEyesTest::samePairGivesTheSameBytes_data() {
    QTest::addColumn<bool>("otherThread");
    QTest::addColumn<double>("distortion");
    QTest::newRow("on this thread after another pair") << false << 0.0;
    QTest::newRow("on another thread after another pair") << true << 0.0;
    QTest::newRow("distorted lens, on this thread after another pair") << false << 0.06;
}

void AlignEyesTest::samePairGivesTheSameBytes() {
    QFETCH(bool, otherThread);
    QFETCH(double, distortion);
    const synthetic::Scene scene(kPictureSize);
    const QImage left = scene.left();
    const QImage right = scene.right({1.2, 1.01, 3.0, 0, distortion});
    const QImage otherRight =
        synthetic::Scene(kPictureSize, synthetic::Texture::Tiles).right({-0.5, 1.0, -4.0});
    Aligned alone;
    std::thread([&] { alone = alignedOnce(left, right); }).join();
    Aligned after;
    const auto alignAfterAnother = [&] {
        alignedOnce(left, otherRight);
        after = alignedOnce(left, right);
    };
    if (otherThread)
        std::thread(alignAfterAnother).join();
    else
        alignAfterAnother();
    QCOMPARE(after.refusal, alone.refusal);
    QCOMPARE(after.left, alone.left);
    QCOMPARE(after.right, alone.right);
}

void AlignEyesTest::cropIsTheLargestTheRightPictureCovers_data() {
    QTest::addColumn<duoptica::align::Homography>("rightToLeft");
    using duoptica::align::Homography;
    // 300 x 200 pictures; maps about the centre (149.5, 99.5).
    QTest::newRow("moved down 7 pixels") << Homography{{1, 0, 0, 0, 1, 7, 0, 0, 1}};
    QTest::newRow("turned 2 degrees, 3% smaller")
        << Homography{{0.9694, -0.0339, 7.9, 0.0339, 0.9694, -2.0, 0, 0, 1}};
    QTest::newRow("keystone leaning left") << Homography{{1, 0, 0, 0, 1, 0, 0.0004, 0, 1}};
    QTest::newRow("keystone leaning right, tilted and turned")
        << Homography{{0.998, 0.02, -1.5, -0.02, 0.998, 3.0, -0.0003, 0.0001, 1}};
}

void AlignEyesTest::cropIsTheLargestTheRightPictureCovers() {
    QFETCH(duoptica::align::Homography, rightToLeft);
    constexpr int kWidth = 300, kHeight = 200;
    const duoptica::align::Homography leftToRight = rightToLeft.inverse();
    const auto covered = [&](int x, int y) {
        const duoptica::align::Point p = leftToRight.apply({double(x), double(y)});
        return p.x >= -1e-6 && p.y >= -1e-6 && p.x <= kWidth - 1 + 1e-6 &&
               p.y <= kHeight - 1 + 1e-6;
    };
    const duoptica::align::PixelRect crop =
        duoptica::align::largestCommonRectangle(leftToRight, kWidth, kHeight);
    QVERIFY(crop.width > kWidth / 2 && crop.height > kHeight / 2);
    int outside = 0;
    for (int y = crop.y; y < crop.y + crop.height; ++y)
        for (int x = crop.x; x < crop.x + crop.width; ++x)
            outside += !covered(x, y);
    QCOMPARE(outside, 0);
    // Grown by a row or a column on any side, it takes in an uncovered pixel or leaves the frame.
    const auto growable = [&](int x0, int y0, int x1, int y1) {
        if (x0 < 0 || y0 < 0 || x1 >= kWidth || y1 >= kHeight)
            return false;
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                if (!covered(x, y))
                    return false;
        return true;
    };
    const int left = crop.x, top = crop.y, right = crop.x + crop.width - 1,
              bottom = crop.y + crop.height - 1;
    QVERIFY(!growable(left - 1, top, left - 1, bottom));
    QVERIFY(!growable(right + 1, top, right + 1, bottom));
    QVERIFY(!growable(left, top - 1, right, top - 1));
    QVERIFY(!growable(left, bottom + 1, right, bottom + 1));
}

void AlignEyesTest::cropHoldsOnlyPixelsTheRightPictureCovers_data() {
    QTest::addColumn<Similarity>("leftToRight");
    QTest::addColumn<QRect>("expected");
    // Pictures of 10 x 8. Half a pixel off is enough to lose the last column: its centre maps
    // between the right picture's last pixel centre and its edge.
    QTest::newRow("the same frame") << Similarity{0, 1, 0, 0} << QRect(0, 0, 10, 8);
    QTest::newRow("half a pixel to the right") << Similarity{0, 1, 0.5, 0} << QRect(0, 0, 9, 8);
    QTest::newRow("half a pixel to the left") << Similarity{0, 1, -0.5, 0} << QRect(1, 0, 9, 8);
    QTest::newRow("2.25 pixels down") << Similarity{0, 1, 0, 2.25} << QRect(0, 0, 10, 5);
    QTest::newRow("twice the size") << Similarity{0, 2, 0, 0} << QRect(0, 0, 5, 4);
}

void AlignEyesTest::cropHoldsOnlyPixelsTheRightPictureCovers() {
    QFETCH(Similarity, leftToRight);
    QFETCH(QRect, expected);
    const PixelRect crop = duoptica::align::largestCommonRectangle(
        duoptica::align::Homography::from(leftToRight), 10, 8);
    QCOMPARE(QRect(crop.x, crop.y, crop.width, crop.height), expected);
}

QTEST_GUILESS_MAIN(AlignEyesTest)
#include "tst_aligneyes.moc"
