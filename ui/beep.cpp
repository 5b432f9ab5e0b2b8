#include "ui/beep.h"

#include "ui/window_platform.h"

namespace koravex {

std::function<void()>& beepHook() {
    static std::function<void()> hook;
    return hook;
}

void errorBeep(WindowPlatform& platform) {
    if (const auto& hook = beepHook()) {
        hook();
        return;
    }
    platform.errorBeep();
}

}  // namespace koravex
