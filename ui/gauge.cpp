// The gauge widget: its properties and their write rules.
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <limits>

#include "ui/gauge.h"

namespace koravex {
namespace {

[[noreturn]] void failRange(std::int64_t low, std::int64_t high) {
    throw InvalidOperation(
        QStringLiteral("Value must be between %1 and %2").arg(low).arg(high).toStdString());
}

// Stores v and repaints when it differs from the current value.
template <typename T>
void writeProperty(Gauge& gauge, T& field, T v, void (Gauge::*repaint)()) {
    if (field != v) {
        field = v;
        (gauge.*repaint)();
    }
}

}  // namespace

std::int32_t gaugePercent(const GaugeLook& look) {
    if (look.maxValue == look.minValue) {
        return 0;
    }
    // The differences are taken in 64 bits: a range wider than 2^31 would wrap in 32 bits and
    // give a percentage outside 0..100.
    const std::int64_t done = std::int64_t{look.progress} - look.minValue;
    const std::int64_t range = std::int64_t{look.maxValue} - look.minValue;
    return static_cast<std::int32_t>(100 * done / range);
}

Gauge::Gauge(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(100, 100);
}

void Gauge::setMinValue(std::int32_t v) {
    if (v == look_.minValue) {
        return;
    }
    if (v > look_.maxValue) {
        failRange(-std::int64_t{std::numeric_limits<std::int32_t>::max()},
                  std::int64_t{look_.maxValue} - 1);
    }
    look_.minValue = v;
    if (look_.progress < v) {
        look_.progress = v;
    }
    repaintNow();
}

void Gauge::setMaxValue(std::int32_t v) {
    if (v == look_.maxValue) {
        return;
    }
    if (v < look_.minValue) {
        failRange(std::int64_t{look_.minValue} + 1, std::numeric_limits<std::int32_t>::max());
    }
    look_.maxValue = v;
    if (look_.progress > v) {
        look_.progress = v;
    }
    repaintNow();
}

void Gauge::setProgress(std::int32_t v) {
    v = std::clamp(v, look_.minValue, look_.maxValue);
    if (v == look_.progress) {
        return;
    }
    const std::int32_t before = percent();
    look_.progress = v;
    if (percent() != before) {
        repaintProgress();
    }
}

void Gauge::setKind(GaugeKind k) {
    writeProperty(*this, look_.kind, k, &Gauge::repaintNow);
}
void Gauge::setShowText(bool on) {
    writeProperty(*this, look_.showText, on, &Gauge::repaintNow);
}
void Gauge::setBorderStyle(GaugeBorder b) {
    writeProperty(*this, look_.border, b, &Gauge::repaintNow);
}
void Gauge::setForeColor(std::uint32_t bgr) {
    writeProperty(*this, look_.foreColor, bgr, &Gauge::repaintNow);
}
void Gauge::setBackColor(std::uint32_t bgr) {
    writeProperty(*this, look_.backColor, bgr, &Gauge::repaintNow);
}

QSize Gauge::sizeHint() const {
    return QSize(100, 100);
}

void Gauge::repaintNow() {
    // repaint() draws at once when the gauge is visible; a hidden gauge is drawn when shown.
    if (isVisible()) {
        repaint();
    }
}

void Gauge::repaintProgress() {
    // Only what differs between the picture shown and the new one is painted again.
    if (!isVisible()) {
        return;
    }
    const std::optional<QRect> changed = canvas_.change(
        look_, width(), height(), palette().color(QPalette::Window), font(), devicePixelRatioF());
    if (!changed) {
        repaint();
    } else if (!changed->isEmpty()) {
        repaint(*changed);
    }
}

void Gauge::paintEvent(QPaintEvent* /*event*/) {
    ++paintCount_;
    const QImage& image = canvas_.picture(
        look_, width(), height(), palette().color(QPalette::Window), font(), devicePixelRatioF());
    if (!image.isNull()) {
        QPainter(this).drawImage(0, 0, image);
    }
}

}  // namespace koravex
