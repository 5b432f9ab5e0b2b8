#pragma once
// One instance per session on Windows: the named mutex "TarquelKoravex" taken with a zero
// time-out wait, and the search for the running instance's main window.
//
// The main window is recognised by two tests: it carries the window property "TForm1" (Qt
// names its window classes itself, so the property stands for the window class), and the
// executable of the process it belongs to has exactly our own path, compared byte for byte.
#include <windows.h>

#include <string>

namespace koravex {

inline constexpr wchar_t kInstanceMutexName[] = L"TarquelKoravex";
inline constexpr wchar_t kMainWindowMarker[] = L"TForm1";

enum class MutexWait {
    Free,       // nobody owned it: this process owns it now
    Abandoned,  // its owner ended without releasing it: this process owns it now
    Owned,      // another process (or thread) owns it: another instance runs
    Failed,     // no mutex or no wait; the program runs all the same
};

// Creates or opens the mutex (no initial owner) and waits on it with time-out 0. The handle
// is kept until the process ends: ownership goes with the process.
MutexWait takeInstanceMutex(const wchar_t* name);

// Every result but Owned lets this process run as the instance.
inline bool runsAsInstance(MutexWait wait) {
    return wait != MutexWait::Owned;
}

// The full path of the executable of process `pid`; empty when it cannot be read.
std::wstring processImagePath(DWORD pid);

// Marks `window` as the program's main window for a later start to find.
void markMainWindow(HWND window);
void unmarkMainWindow(HWND window);

// The first top-level window carrying the marker whose process runs the executable
// `ownPath`; null when there is none. An empty path matches nothing.
HWND findInstanceWindow(const std::wstring& ownPath);

// A second start's hand-over: WM_USER (both parameters 0) when the window is hidden, then
// SetForegroundWindow either way.
void handOverTo(HWND window);

}  // namespace koravex
