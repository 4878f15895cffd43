// --align on made-up stereo pairs whose true geometry is known: what is left of the vertical
// disparity, what becomes of the horizontal one, and which pairs are refused.
#include "align_stage.h"
#include "common_rectangle.h"
#include "synthetic_stereo.h"

#include <QTest>

using duoptica::AlignOptions;
using duoptica::align::PixelRect;
using duoptica::align::Similarity;
using duoptica::align::WindowPlacement;

namespace {

constexpr QSize kPictureSize(1200, 800); // big enough to find features on a reduced copy

} // namespace

Q_DECLARE_METATYPE(Similarity)

class AlignEyesTest : public QObject {
    Q_OBJECT

private slots:
    void alignsOrRefusesThePair_data();
    void alignsOrRefusesThePair();
    void cropHoldsOnlyPixelsTheRightPictureCovers_data();
    void cropHoldsOnlyPixelsTheRightPictureCovers();
};

void AlignEyesTest::alignsOrRefusesThePair_data() {
    QTest::addColumn<double>("rotation");
    QTest::addColumn<double>("scale");
    QTest::addColumn<double>("verticalOffset");
    QTest::addColumn<bool>("textured");
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("refusalMentions"); // empty when the pair must align

    QTest::newRow("vertical offset only") << 0.0 << 1.0 << 6.5 << true << ""
                                          << "";
    QTest::newRow("turned 0.5 degrees, offset up") << 0.5 << 1.0 << -3.0 << true << ""
                                                   << "";
    QTest::newRow("turned -3 degrees, 3% larger") << -3.0 << 1.03 << 4.2 << true << ""
                                                  << "";
    QTest::newRow("turned 1.2 degrees, 3% smaller") << 1.2 << 0.97 << 0.0 << true << ""
                                                    << "";
    QTest::newRow("window auto puts the nearest at the screen")
        << 2.0 << 1.01 << -4.0 << true << "auto"
        << "";
    QTest::newRow("window shifted 15 pixels") << 0.0 << 1.0 << 2.0 << true << "15"
                                              << "";
    QTest::newRow("featureless pair refused") << 0.0 << 1.0 << 3.0 << false << ""
                                              << "features";
    QTest::newRow("turned 8 degrees refused") << 8.0 << 1.0 << 0.0 << true << ""
                                              << "degrees";
    QTest::newRow("15% larger refused") << 0.0 << 1.15 << 0.0 << true << ""
                                        << "scale";
}

void AlignEyesTest::alignsOrRefusesThePair() {
    QFETCH(double, rotation);
    QFETCH(double, scale);
    QFETCH(double, verticalOffset);
    QFETCH(bool, textured);
    QFETCH(QString, window);
    QFETCH(QString, refusalMentions);
    const synthetic::Scene scene(kPictureSize);
    QImage left = scene.left(textured);
    QImage right = scene.right({rotation, scale, verticalOffset}, textured);
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
        QCOMPARE(left.size(), kPictureSize);
        return;
    }
    QVERIFY2(aligned, qPrintable(refusal));
    QCOMPARE(right.size(), left.size());
    const QPoint origin(aligned->layout.crop.x, aligned->layout.crop.y);
    int measured = 0;
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
        ++measured;
    }
    QVERIFY2(measured >= 40, qPrintable(QString::number(measured)));
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
    const PixelRect crop = duoptica::align::largestCommonRectangle(leftToRight, 10, 8);
    QCOMPARE(QRect(crop.x, crop.y, crop.width, crop.height), expected);
}

QTEST_GUILESS_MAIN(AlignEyesTest)
#include "tst_aligneyes.moc"
