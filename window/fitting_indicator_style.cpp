#include "fitting_indicator_style.h"

#include <QWidget>

#include <algorithm>

int FittingIndicatorStyle::pixelMetric(PixelMetric metric, const QStyleOption *option,
                                       const QWidget *widget) const {
    const int size = QProxyStyle::pixelMetric(metric, option, widget);
    // Width too, so that the indicator stays round.
    if (widget && (metric == PM_ExclusiveIndicatorHeight || metric == PM_ExclusiveIndicatorWidth))
        return std::min(size, widget->height());
    return size;
}
