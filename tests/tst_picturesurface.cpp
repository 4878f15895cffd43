// The picture surface as the combine run and the file handlers see it: pixel reads and writes at
// the edges, background around and under a loaded picture, clearing, and resizing in twips.
#include "module1.h"
#include "picture_surface.h"

#include <QTest>
#include <QWidget>

using duoptica::ColorValue;

namespace {

constexpr ColorValue kBackgroundColor = 0x404040;

QImage filledImage(QSize size, QRgb rgb) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(rgb);
    return image;
}

// Counts the paint events a widget receives: each one puts the bitmap on screen.
class PaintCounter : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

} // namespace

class PictureSurfaceTest : public QObject {
    Q_OBJECT

private slots:
    void readsOutsideTheBitmapAnswerMinusOne_data();
    void readsOutsideTheBitmapAnswerMinusOne();
    void writesOutsideTheBitmapChangeNothing();
    void colorValuesKeepRedInTheLowByte();
    void smallerPictureLeavesBackgroundAround();
    void largerPictureIsCutOff();
    void clsRestoresBackgroundAndPicture();
    void writesReachTheScreenOnlyAtRefresh();
    void widthAndHeightResizeSurfaceAndBitmap();
    void hiddenSurfaceResizesItsBitmapToo();

private:
    QWidget parent;
};

void PictureSurfaceTest::readsOutsideTheBitmapAnswerMinusOne_data() {
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<bool>("inside");
    QTest::newRow("top-left corner") << 0 << 0 << true;
    QTest::newRow("bottom-right corner") << 599 << 383 << true;
    QTest::newRow("left of column 0") << -1 << 10 << false;
    QTest::newRow("at ScaleWidth") << 600 << 10 << false;
    QTest::newRow("above row 0") << 10 << -1 << false;
    QTest::newRow("at ScaleHeight") << 10 << 384 << false;
    QTest::newRow("far away") << 100000 << -100000 << false;
}

void PictureSurfaceTest::readsOutsideTheBitmapAnswerMinusOne() {
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(bool, inside);
    PictureSurface surface({0, 0, 600, 384}, &parent);
    QCOMPARE(Module1::GetPixel(surface.hDC(), x, y), inside ? kBackgroundColor : -1);
    QCOMPARE(surface.pixel(x, y), inside ? kBackgroundColor : -1);
}

void PictureSurfaceTest::writesOutsideTheBitmapChangeNothing() {
    PictureSurface surface({0, 0, 600, 384}, &parent);
    const QImage before = surface.Image();
    for (const QPoint p : {QPoint(-1, 0), QPoint(600, 0), QPoint(0, -1), QPoint(0, 384)}) {
        QCOMPARE(Module1::SetPixelV(surface.hDC(), p.x(), p.y(), 0x123456), 0);
        surface.setPixel(p.x(), p.y(), 0x654321);
    }
    QCOMPARE(surface.Image(), before);

    QVERIFY(Module1::SetPixelV(surface.hDC(), 599, 383, 0x123456) != 0);
    QCOMPARE(surface.pixel(599, 383), 0x123456);
}

void PictureSurfaceTest::colorValuesKeepRedInTheLowByte() {
    PictureSurface surface({0, 0, 4, 4}, &parent);
    surface.setPixel(1, 2, 0x0000FF); // pure red
    QCOMPARE(surface.Image().pixel(1, 2), qRgb(255, 0, 0));
    surface.setPixel(2, 1, 0xFF0000); // pure blue
    QCOMPARE(surface.Image().pixel(2, 1), qRgb(0, 0, 255));
    // Bits 24-31 carry nothing and are not stored.
    surface.setPixel(0, 0, static_cast<ColorValue>(0x7F00FF00));
    QCOMPARE(surface.pixel(0, 0), 0x00FF00);

    surface.setPicture(filledImage({4, 4}, qRgb(10, 20, 30)));
    QCOMPARE(surface.pixel(3, 3), 10 + 20 * 256 + 30 * 65536);
}

void PictureSurfaceTest::smallerPictureLeavesBackgroundAround() {
    PictureSurface surface({0, 0, 600, 384}, &parent);
    surface.setPicture(filledImage({100, 50}, qRgb(200, 100, 0)));
    QCOMPARE(surface.pixel(99, 49), 200 + 100 * 256);
    QCOMPARE(surface.pixel(100, 0), kBackgroundColor);
    QCOMPARE(surface.pixel(0, 50), kBackgroundColor);
    QCOMPARE(surface.pixel(599, 383), kBackgroundColor);
    QCOMPARE(surface.ScaleWidth(), 600.0f);
    QCOMPARE(surface.ScaleHeight(), 384.0f);
}

void PictureSurfaceTest::largerPictureIsCutOff() {
    QImage picture = filledImage({700, 500}, qRgb(1, 2, 3));
    picture.setPixel(599, 383, qRgb(9, 8, 7));
    PictureSurface surface({0, 0, 600, 384}, &parent);
    surface.setPicture(picture);
    QCOMPARE(surface.Image().size(), QSize(600, 384));
    QCOMPARE(surface.pixel(599, 383), 9 + 8 * 256 + 7 * 65536);
    QCOMPARE(surface.pixel(600, 383), -1);
    QCOMPARE(surface.Width(), 9000.0f);
    QCOMPARE(surface.Height(), 5760.0f);
}

void PictureSurfaceTest::clsRestoresBackgroundAndPicture() {
    PictureSurface surface({0, 0, 30, 20}, &parent);
    surface.setPicture(filledImage({10, 10}, qRgb(0, 0, 255)));
    const QImage loaded = surface.Image();
    surface.setPixel(5, 5, 0x00FF00);
    surface.setPixel(25, 15, 0x00FF00);
    QVERIFY(surface.Image() != loaded);
    surface.Cls();
    QCOMPARE(surface.Image(), loaded);
    QCOMPARE(surface.pixel(5, 5), 0xFF0000);
    QCOMPARE(surface.pixel(25, 15), kBackgroundColor);
}

void PictureSurfaceTest::writesReachTheScreenOnlyAtRefresh() {
    QWidget window;
    window.resize(40, 40);
    auto *surface = new PictureSurface({0, 0, 40, 40}, &window);
    PaintCounter paints;
    surface->installEventFilter(&paints);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY(paints.count > 0);

    paints.count = 0;
    surface->setPixel(3, 3, 0x0000FF);
    surface->Cls();
    QTest::qWait(20);
    QCOMPARE(paints.count, 0);

    surface->setPixel(3, 3, 0x0000FF);
    surface->Refresh();
    QCOMPARE(paints.count, 1); // painted at once, not merely scheduled
    QCOMPARE(surface->grab().toImage().pixel(3, 3), qRgb(255, 0, 0));
}

void PictureSurfaceTest::widthAndHeightResizeSurfaceAndBitmap() {
    PictureSurface surface({0, 0, 600, 384}, &parent);
    surface.setPixel(10, 10, 0x00FF00);
    surface.setWidth(1500);
    surface.setHeight(750);
    QCOMPARE(surface.width(), 100);
    QCOMPARE(surface.height(), 50);
    QCOMPARE(surface.ScaleWidth(), 100.0f);
    QCOMPARE(surface.ScaleHeight(), 50.0f);
    QCOMPARE(surface.Width(), 1500.0f);
    QCOMPARE(surface.Height(), 750.0f);
    QCOMPARE(surface.Image().size(), QSize(100, 50));
    QCOMPARE(surface.pixel(100, 0), -1);
    QCOMPARE(surface.pixel(10, 10), 0x00FF00); // drawing that still fits is kept

    surface.setWidth(9000);
    QCOMPARE(surface.ScaleWidth(), 600.0f);
    QCOMPARE(surface.pixel(599, 0), kBackgroundColor);
}

void PictureSurfaceTest::hiddenSurfaceResizesItsBitmapToo() {
    PictureSurface surface({0, 0, 600, 384}, &parent);
    surface.hide();
    surface.setHeight(300);
    QCOMPARE(surface.ScaleHeight(), 20.0f);
    QCOMPARE(surface.pixel(0, 19), kBackgroundColor);
    QCOMPARE(surface.pixel(0, 20), -1);
}

QTEST_MAIN(PictureSurfaceTest)
#include "tst_picturesurface.moc"
