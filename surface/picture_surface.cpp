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
    : QWidget(parent)
    , bitmap_(blankBitmap(geometry.size())) {
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

void PictureSurface::setPicture(const QImage &picture) {
    picture_ = picture;
    bitmap_ = blankBitmap(size());
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
    return Module1::GetPixel(const_cast<QImage *>(&bitmap_), x, y);
}

void PictureSurface::setPixel(std::int32_t x, std::int32_t y, duoptica::ColorValue color) {
    Module1::SetPixelV(hDC(), x, y, color);
}

void PictureSurface::Cls() {
    bitmap_ = blankBitmap(size());
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
    bitmap_ = resized;
    update();
}
