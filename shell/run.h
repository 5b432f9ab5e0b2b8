#pragma once
// The program's entry, one per platform (run.cpp, windows/run_windows.cpp).

namespace koravex {

// The whole program: platform choice, single instance, the window, the event loop. Reads no
// command line; returns the exit code.
int runKoravex();

}  // namespace koravex
