#include "shell/windows/instance_windows.h"

#include <vector>

namespace koravex {

MutexWait takeInstanceMutex(const wchar_t* name) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
    if (mutex == nullptr) {
        return MutexWait::Failed;
    }
    switch (WaitForSingleObject(mutex, 0)) {
        case WAIT_OBJECT_0:
            return MutexWait::Free;
        case WAIT_ABANDONED:
            return MutexWait::Abandoned;
        case WAIT_TIMEOUT:
            return MutexWait::Owned;
        default:
            return MutexWait::Failed;
    }
}

std::wstring processImagePath(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) {
        return {};
    }
    // Long paths (\\?\ prefixed, up to 32767 characters) fit.
    std::vector<wchar_t> buffer(32768);
    DWORD length = static_cast<DWORD>(buffer.size());
    const BOOL ok = QueryFullProcessImageNameW(process, 0, buffer.data(), &length);
    CloseHandle(process);
    if (!ok) {
        return {};
    }
    return std::wstring(buffer.data(), length);
}

void markMainWindow(HWND window) {
    SetPropW(window, kMainWindowMarker, reinterpret_cast<HANDLE>(1));
}

void unmarkMainWindow(HWND window) {
    RemovePropW(window, kMainWindowMarker);
}

namespace {

struct Search {
    const std::wstring* ownPath;
    HWND found;
};

BOOL CALLBACK visitWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    if (GetPropW(window, kMainWindowMarker) == nullptr) {
        return TRUE;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == 0 || processImagePath(pid) != *search->ownPath) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

}  // namespace

HWND findInstanceWindow(const std::wstring& ownPath) {
    if (ownPath.empty()) {
        return nullptr;
    }
    Search search{&ownPath, nullptr};
    EnumWindows(&visitWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void handOverTo(HWND window) {
    if (window == nullptr) {
        return;
    }
    if (!IsWindowVisible(window)) {
        PostMessageW(window, WM_USER, 0, 0);
    }
    SetForegroundWindow(window);
}

}  // namespace koravex
