#pragma once
// The system's error sound, with a seam for tests.
#include <functional>

namespace koravex {

// Called instead of the sound when set.
std::function<void()>& beepHook();
void errorBeep();

}  // namespace koravex
