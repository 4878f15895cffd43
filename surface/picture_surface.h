// A picture area of the main window that keeps its own bitmap: background 0x404040 with the
// loaded picture, if any, unscaled at the top-left corner. Everything drawn goes into the bitmap
// and reaches the screen only at Refresh() or when the widget is repainted.
#pragma once

#include "module1.h"
#include "run_host.h"

#include <QImage>
#include <QWidget>

class PictureSurface : public QWidget, public duoptica::RunSurface {
    Q_OBJECT

public:
    static constexpr int kTwipsPerPixel = 15;
    static constexpr QRgb kBackground = 0xFF404040;

    // Geometry in pixels of the parent; the bitmap starts at that size.
    PictureSurface(const QRect &geometry, QWidget *parent);

    Module1::HDC hDC() const { return &deviceContext_; }

    QImage Picture() const { return picture_; }
    // Shows the new picture over a fresh background; an empty image leaves only the background.
    void setPicture(const QImage &picture);
    // A copy: the bitmap keeps changing under the device context.
    QImage Image() const { return bitmap_.copy(); }

    // RunSurface
    float Width() const override;
    float Height() const override;
    void setWidth(float twips) override;
    void setHeight(float twips) override;
    float ScaleWidth() const override;
    float ScaleHeight() const override;
    duoptica::ColorValue pixel(std::int32_t x, std::int32_t y) const override;
    void setPixel(std::int32_t x, std::int32_t y, duoptica::ColorValue color) override;
    void Cls() override;
    void Refresh() override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QImage blankBitmap(QSize size) const;
    void adoptBitmap(QImage bitmap);
    // Resize events reach a hidden widget only when it is shown, so size changes are applied
    // to the bitmap here as they happen.
    void fitBitmapToSize();

    QImage picture_;
    QImage bitmap_;
    Module1::DeviceContext deviceContext_;
};
