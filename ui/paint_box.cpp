#include "ui/paint_box.h"

#include <QMouseEvent>
#include <QPainter>

namespace koravex {

PaintBox::PaintBox(QWidget* parent) : QWidget(parent) {}

void PaintBox::fillWith(const QColor& color) {
    if (surface_.size() != size()) {
        surface_ = QImage(size(), QImage::Format_ARGB32_Premultiplied);
        surface_.fill(Qt::transparent);
    }
    QPainter painter(&surface_);
    painter.setPen(color);
    painter.setBrush(color);
    painter.drawRect(QRect(QPoint(0, 0), size()).adjusted(0, 0, -1, -1));
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
    QImage resized(size(), QImage::Format_ARGB32_Premultiplied);
    resized.fill(Qt::transparent);
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
