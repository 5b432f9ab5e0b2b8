#include "ui/beep.h"

#include <QApplication>

namespace koravex {

std::function<void()>& beepHook() {
    static std::function<void()> hook;
    return hook;
}

void errorBeep() {
    if (const auto& hook = beepHook()) {
        hook();
        return;
    }
    QApplication::beep();
}

}  // namespace koravex
