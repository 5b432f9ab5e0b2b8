#include "ui/beep.h"

#include <QApplication>
#ifdef _WIN32
#include <windows.h>
#endif

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
#ifdef _WIN32
    MessageBeep(MB_ICONHAND);
#else
    QApplication::beep();
#endif
}

}  // namespace koravex
