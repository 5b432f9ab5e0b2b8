#include "ui/bevel.h"

#include <QPainter>

namespace koravex {

Bevel::Bevel(Shape shape, QWidget* parent) : QFrame(parent), shape_(shape) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Bevel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor shadow = palette().color(QPalette::Dark);
    const QColor light = palette().color(QPalette::Light);
    const int right = width() - 1;
    const int bottom = height() - 1;
    if (shape_ == Shape::BottomLine) {
        painter.setPen(shadow);
        painter.drawLine(0, bottom - 1, right, bottom - 1);
        painter.setPen(light);
        painter.drawLine(0, bottom, right, bottom);
        return;
    }
    // Lowered: shadow on the top and left edges, light on the bottom and right.
    painter.setPen(shadow);
    painter.drawLine(0, 0, right - 1, 0);
    painter.drawLine(0, 0, 0, bottom - 1);
    painter.setPen(light);
    painter.drawLine(0, bottom, right, bottom);
    painter.drawLine(right, 0, right, bottom);
}

}  // namespace koravex
