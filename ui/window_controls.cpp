#include "ui/window_controls.h"

#include <QLabel>

#include "ui/figure_label.h"

namespace koravex {

QLabel* addLabel(QWidget* parent, const char* name, int left, int top, const QString& text,
                 LabelLook look) {
    QLabel* label = look.figure ? new FigureLabel(parent) : new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    QFont font = label->font();
    font.setBold(look.bold);
    if (look.pointSize > 0)
        font.setPointSize(look.pointSize);
    label->setFont(font);
    if (look.blue) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, kLabelBlue);
        label->setPalette(palette);
    }
    label->move(left, top);
    label->setText(text);
    label->adjustSize();
    return label;
}

void setLabelText(QLabel* label, const QString& text) {
    if (auto* figure = qobject_cast<FigureLabel*>(label)) {
        figure->setFigure(text);
        return;
    }
    if (label->text() == text)
        return;  // an unchanged text is neither rewritten nor measured nor repainted
    label->setText(text);
    label->adjustSize();
}

void place(QWidget* widget, const char* name, int left, int top, int width, int height) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(left, top, width, height);
}

}  // namespace koravex
