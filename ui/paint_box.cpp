#include "ui/paint_box.h"

#include <QMouseEvent>
#include <QPainter>

namespace koravex {

PaintBox::PaintBox(QWidget* parent) : QWidget(parent) {}

namespace {

// A transparent surface of the screen's pixels for a box of `size` in the widget's own.
QImage blankSurface(const QSize& size, qreal ratio) {
    QImage surface(size * ratio, QImage::Format_ARGB32_Premultiplied);
    surface.setDevicePixelRatio(ratio);
    surface.fill(Qt::transparent);
    return surface;
}

}  // namespace

void PaintBox::fillWith(const QColor& color) {
    const qreal ratio = devicePixelRatioF();
    if (surface_.deviceIndependentSize() != QSizeF(size()) ||
        surface_.devicePixelRatio() != ratio) {
        surface_ = blankSurface(size(), ratio);
    }
    QPainter painter(&surface_);
    if (ratio == 1.0) {
        painter.setPen(color);
        painter.setBrush(color);
        painter.drawRect(QRect(QPoint(0, 0), size()).adjusted(0, 0, -1, -1));
    } else {
        // The outline and the interior of the same colour cover the whole box; at a finer
        // resolution a pen would leave its last device row or column to chance.
        painter.fillRect(QRectF(QPointF(0, 0), QSizeF(size())), color);
    }
    painter.end();
    ++fills_;
    repaint();
}

void PaintBox::paintEvent(QPaintEvent*) {
    if (surface_.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(0, 0, surface_);
}

void PaintBox::resizeEvent(QResizeEvent* event) {
    QImage resized = blankSurface(size(), devicePixelRatioF());
    if (!surface_.isNull()) {
        QPainter painter(&resized);
        painter.drawImage(0, 0, surface_);
    }
    surface_ = resized;
    QWidget::resizeEvent(event);
}

void PaintBox::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QWidget::mouseReleaseEvent(event);
}

}  // namespace koravex
