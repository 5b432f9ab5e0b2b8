#pragma once
// Small helpers that make the window's controls in one line each.
#include <QColor>
#include <QString>

class QLabel;
class QWidget;

namespace koravex {

inline const QColor kLabelBlue{0, 0, 255};

struct LabelLook {
    bool bold = false;
    bool blue = false;
    int pointSize = 0;    // 0: the window font's size
    bool figure = false;  // a text the refresh rewrites (a FigureLabel)
};

// A label sized to its text (plain text: nothing read from the system is markup).
QLabel* addLabel(QWidget* parent, const char* name, int left, int top, const QString& text,
                 LabelLook look = {});

// Sets a label's text and sizes the label to it again (a figure label only when its width
// can change).
void setLabelText(QLabel* label, const QString& text);

// Places a widget and names it.
void place(QWidget* widget, const char* name, int left, int top, int width, int height);

}  // namespace koravex
