// The application's style, except that an option button's round indicator is never taller than
// the button: the layout's 13-pixel option buttons would otherwise cut off the bottom row of a
// 14-pixel indicator.
#pragma once

#include <QProxyStyle>

class FittingIndicatorStyle : public QProxyStyle {
    Q_OBJECT

public:
    using QProxyStyle::QProxyStyle;

    int pixelMetric(PixelMetric metric, const QStyleOption *option = nullptr,
                    const QWidget *widget = nullptr) const override;
};
