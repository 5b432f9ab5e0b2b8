#pragma once
// Tabs as wide as their captions and a little margin, so that the five captions fit the
// 373-pixel tab control also with a fallback face wider than the one the layout was made for.
#include <QProxyStyle>

namespace koravex {

class CompactTabStyle : public QProxyStyle {
    Q_OBJECT
  public:
    using QProxyStyle::QProxyStyle;
    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr,
                    const QWidget* widget = nullptr) const override;
};

}  // namespace koravex
