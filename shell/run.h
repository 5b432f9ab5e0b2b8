#pragma once
// The program's entry, one per platform (run.cpp, windows/run_windows.cpp).

namespace koravex {

// Returns the exit code.
int runKoravex();

}  // namespace koravex
