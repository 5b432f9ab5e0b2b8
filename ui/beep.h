#pragma once
// The error sound, with a seam for tests.
#include <functional>

namespace koravex {

class WindowPlatform;

// Called instead of the sound when set.
std::function<void()>& beepHook();
// The platform's error sound (WindowPlatform::errorBeep), or the hook.
void errorBeep(WindowPlatform& platform);

}  // namespace koravex
