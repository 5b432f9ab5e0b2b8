#include "ui/compact_tab_style.h"

namespace koravex {

int CompactTabStyle::pixelMetric(PixelMetric metric, const QStyleOption* option,
                                 const QWidget* widget) const {
    // The room beside a tab's caption, both sides together.
    if (metric == PM_TabBarTabHSpace)
        return 12;
    return QProxyStyle::pixelMetric(metric, option, widget);
}

}  // namespace koravex
