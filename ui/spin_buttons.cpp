#include "ui/spin_buttons.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <algorithm>

namespace koravex {

namespace {

QToolButton* makeArrow(Qt::ArrowType arrow, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setArrowType(arrow);
    button->setFocusPolicy(Qt::NoFocus);
    // Held down, the button repeats at one steady rate: no acceleration.
    button->setAutoRepeat(true);
    button->setAutoRepeatDelay(400);
    button->setAutoRepeatInterval(100);
    return button;
}

}  // namespace

UpDown::UpDown(QLineEdit* associate, int min, int max, int position, QWidget* parent)
    : QWidget(parent), edit_(associate), min_(min), max_(max), position_(position) {
    up_ = makeArrow(Qt::UpArrow, this);
    up_->setObjectName(QStringLiteral("up"));
    down_ = makeArrow(Qt::DownArrow, this);
    down_->setObjectName(QStringLiteral("down"));
    connect(up_, &QToolButton::clicked, this, &UpDown::stepUp);
    connect(down_, &QToolButton::clicked, this, &UpDown::stepDown);
    setFocusPolicy(Qt::TabFocus);
    if (edit_)
        edit_->installEventFilter(this);
}

int UpDown::stepFrom(const QString& text, int lastPosition, int min, int max, int delta) {
    bool ok = false;
    const qlonglong typed = text.trimmed().toLongLong(&ok);
    qlonglong start = lastPosition;
    if (ok)
        start = std::clamp<qlonglong>(typed, min, max);
    return static_cast<int>(std::clamp<qlonglong>(start + delta, min, max));
}

void UpDown::step(int delta) {
    if (!isEnabled())
        return;
    const QString text = edit_ ? edit_->text() : QString::number(position_);
    position_ = stepFrom(text, position_, min_, max_, delta);
    const QString digits = QString::number(position_);
    // Writing the same text again would be no change; at the ends the step simply stops.
    if (edit_ && edit_->text() != digits)
        edit_->setText(digits);
}

void UpDown::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) {
        up_->setEnabled(isEnabled());
        down_->setEnabled(isEnabled());
    }
    QWidget::changeEvent(event);
}

void UpDown::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up) {
        stepUp();
    } else if (event->key() == Qt::Key_Down) {
        stepDown();
    } else {
        QWidget::keyPressEvent(event);
    }
}

void UpDown::resizeEvent(QResizeEvent* event) {
    const int half = height() / 2;
    up_->setGeometry(0, 0, width(), half);
    down_->setGeometry(0, half, width(), height() - half);
    QWidget::resizeEvent(event);
}

bool UpDown::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edit_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Up) {
            stepUp();
            return true;
        }
        if (key->key() == Qt::Key_Down) {
            stepDown();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace koravex
