#include "picture_surface.h"

#include <QPaintEvent>
#include <QPainter>

#include <cmath>

namespace {

int twipsToPixels(float twips) {
    return static_cast<int>(std::lround(twips / PictureSurface::kTwipsPerPixel));
}

} // namespace

PictureSurface::PictureSurface(const QRect &geometry, QWidget *parent)
    : QWidget(parent) {
    adoptBitmap(blankBitmap(geometry.size()));
    setGeometry(geometry);
    // The bitmap covers every pixel, so Qt need not clear the widget before painting it.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QImage PictureSurface::blankBitmap(QSize size) const {
    QImage bitmap(size, QImage::Format_RGB32);
    bitmap.fill(kBackground);
    if (!picture_.isNull()) {
        QPainter painter(&bitmap);
        painter.drawImage(0, 0, picture_);
    }
    return bitmap;
}

// The bitmap is written through the device context's pointer from now on, so it must own its
// pixels alone.
void PictureSurface::adoptBitmap(QImage bitmap) {
    bitmap_ = std::move(bitmap);
    deviceContext_ = {reinterpret_cast<QRgb *>(bitmap_.bits()), bitmap_.width(), bitmap_.height(),
                      bitmap_.bytesPerLine() / static_cast<qsizetype>(sizeof(QRgb))};
}

void PictureSurface::setPicture(const QImage &picture) {
    picture_ = picture;
    adoptBitmap(blankBitmap(size()));
    update();
}

float PictureSurface::Width() const {
    return static_cast<float>(width() * kTwipsPerPixel);
}
float PictureSurface::Height() const {
    return static_cast<float>(height() * kTwipsPerPixel);
}

void PictureSurface::setWidth(float twips) {
    resize(twipsToPixels(twips), height());
    fitBitmapToSize();
}

void PictureSurface::setHeight(float twips) {
    resize(width(), twipsToPixels(twips));
    fitBitmapToSize();
}

// Without a border the inner size is the outer size.
float PictureSurface::ScaleWidth() const {
    return static_cast<float>(bitmap_.width());
}
float PictureSurface::ScaleHeight() const {
    return static_cast<float>(bitmap_.height());
}

duoptica::ColorValue PictureSurface::pixel(std::int32_t x, std::int32_t y) const {
    return Module1::GetPixel(hDC(), x, y);
}

void PictureSurface::setPixel(std::int32_t x, std::int32_t y, duoptica::ColorValue color) {
    Module1::SetPixelV(hDC(), x, y, color);
}

void PictureSurface::Cls() {
    adoptBitmap(blankBitmap(size()));
}

void PictureSurface::Refresh() {
    repaint();
}

void PictureSurface::paintEvent(QPaintEvent *event) {
    QPainter painter(this);
    painter.drawImage(event->rect(), bitmap_, event->rect());
}

void PictureSurface::resizeEvent(QResizeEvent *) {
    fitBitmapToSize();
}

// A resized surface keeps what was drawn where it still fits; new area shows the background.
void PictureSurface::fitBitmapToSize() {
    if (bitmap_.size() == size())
        return;
    QImage resized = blankBitmap(size());
    QPainter painter(&resized);
    painter.drawImage(0, 0, bitmap_);
    painter.end();
    adoptBitmap(resized);
    update();
}
