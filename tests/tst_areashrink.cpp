// The band-wise area average must give exactly the bytes OpenCV's INTER_AREA gives the whole
// picture, however the rows arrive.
#include "area_shrink.h"

#include <QTest>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <random>
#include <vector>

using duoptica::PackedPixel;

class AreaShrinkTest : public QObject {
    Q_OBJECT

private slots:
    void shrinksAsOpenCvDoesTheWholePicture_data();
    void shrinksAsOpenCvDoesTheWholePicture();
};

void AreaShrinkTest::shrinksAsOpenCvDoesTheWholePicture_data() {
    QTest::addColumn<QSize>("source");
    QTest::addColumn<QSize>("target");
    QTest::addColumn<int>("band"); // source rows handed over at a time
    QTest::newRow("halved both ways, odd output width") << QSize(602, 402) << QSize(301, 201) << 32;
    QTest::newRow("a third both ways, a row at a time") << QSize(99, 66) << QSize(33, 22) << 1;
    QTest::newRow("halved across only") << QSize(64, 30) << QSize(32, 30) << 7;
    // 1 / (1 / 98.) is not 98 in doubles.
    QTest::newRow("a 98th across, which OpenCV takes for a fraction")
        << QSize(9800, 4) << QSize(100, 4) << 3;
    QTest::newRow("3.75 and 3.74 (a 24 MP eye to 1600)")
        << QSize(600, 400) << QSize(160, 107) << 32;
    QTest::newRow("two thirds, odd sides") << QSize(301, 77) << QSize(201, 51) << 32;
    QTest::newRow("barely shrunk") << QSize(200, 150) << QSize(199, 149) << 3;
    QTest::newRow("across only, a fraction") << QSize(101, 40) << QSize(67, 40) << 32;
    QTest::newRow("down only, a fraction") << QSize(45, 101) << QSize(45, 29) << 32;
    QTest::newRow("one output row") << QSize(97, 53) << QSize(41, 1) << 32;
    QTest::newRow("one output pixel") << QSize(37, 29) << QSize(1, 1) << 4;
}

void AreaShrinkTest::shrinksAsOpenCvDoesTheWholePicture() {
    QFETCH(QSize, source);
    QFETCH(QSize, target);
    QFETCH(int, band);
    // Noise, so that every rounding shows; the rows lie apart, as an eye within a wider picture.
    const std::size_t stride = std::size_t(source.width()) + 3;
    std::vector<PackedPixel> picture(stride * std::size_t(source.height()));
    std::mt19937 random(source.width() * 7919 + source.height());
    std::generate(picture.begin(), picture.end(), [&] { return PackedPixel(random()); });
    cv::Mat expected;
    cv::resize(cv::Mat(source.height(), source.width(), CV_8UC4, picture.data(), stride * 4),
               expected, cv::Size(target.width(), target.height()), 0, 0, cv::INTER_AREA);

    duoptica::AreaShrink shrink(source.width(), source.height(), target.width(), target.height());
    std::vector<PackedPixel> shrunk(std::size_t(target.width()) * std::size_t(target.height()));
    std::vector<PackedPixel> rows(std::size_t(target.width()) *
                                  std::size_t(duoptica::AreaShrink::maxRowsFor(band)));
    int written = 0;
    for (int y = 0; y < source.height(); y += band) {
        const int count = shrink.addRows(picture.data() + stride * std::size_t(y), stride,
                                         std::min(band, source.height() - y), rows.data());
        QVERIFY(written + count <= target.height());
        std::copy_n(rows.begin(), std::size_t(count) * std::size_t(target.width()),
                    shrunk.begin() + std::ptrdiff_t(written) * target.width());
        written += count;
    }
    QCOMPARE(written, target.height());
    for (int y = 0; y < target.height(); ++y)
        for (int x = 0; x < target.width(); ++x)
            QVERIFY2(shrunk[std::size_t(y) * std::size_t(target.width()) + std::size_t(x)] ==
                         expected.at<PackedPixel>(y, x),
                     qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
}

QTEST_GUILESS_MAIN(AreaShrinkTest)
#include "tst_areashrink.moc"
