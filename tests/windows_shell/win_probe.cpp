// koravex-win-probe: what the end-to-end tests ask of the Windows side, under Wine.
//   window             the marked main window: visibility, caption, client size, outer
//                      rectangle, the work area, the extended styles; exit 3 when none
//   popups             how many visible top-level windows the main window's process has
//                      besides it, and the first one's rectangle
//   decoy SECONDS      a marked window of this (other) executable; prints how many WM_USER
//                      it received before SECONDS ran out
//   drive LETTER       the drive's type and whether its free space can be read; exit 1 while
//                      Windows does not know the drive (the prefix's mount manager not up yet)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr wchar_t kMarker[] = L"TForm1";

struct Found {
    HWND main = nullptr;
    DWORD pid = 0;
    int popups = 0;
    RECT firstPopup{};
};

BOOL CALLBACK findMarked(HWND window, LPARAM parameter) {
    auto* found = reinterpret_cast<Found*>(parameter);
    if (GetPropW(window, kMarker) != nullptr) {
        found->main = window;
        GetWindowThreadProcessId(window, &found->pid);
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK countPopups(HWND window, LPARAM parameter) {
    auto* found = reinterpret_cast<Found*>(parameter);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == found->pid && window != found->main && IsWindowVisible(window)) {
        RECT r{};
        GetWindowRect(window, &r);
        if (r.right - r.left > 1 && r.bottom - r.top > 1) {
            if (found->popups++ == 0) {
                found->firstPopup = r;
            }
        }
    }
    return TRUE;
}

std::string utf8(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

int window() {
    Found found;
    EnumWindows(&findMarked, reinterpret_cast<LPARAM>(&found));
    if (found.main == nullptr) {
        std::puts("found=0");
        return 3;
    }
    wchar_t caption[256] = {};
    GetWindowTextW(found.main, caption, 256);
    RECT client{};
    GetClientRect(found.main, &client);
    RECT outer{};
    GetWindowRect(found.main, &outer);
    RECT area{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    POINT origin{0, 0};
    ClientToScreen(found.main, &origin);
    const LONG_PTR ex = GetWindowLongPtrW(found.main, GWL_EXSTYLE);
    std::printf("found=1\nvisible=%d\ncaption=%s\nclient=%ldx%ld\n",
                IsWindowVisible(found.main) ? 1 : 0, utf8(caption).c_str(),
                client.right - client.left, client.bottom - client.top);
    std::printf("outer=%ld,%ld,%ld,%ld\nworkarea=%ld,%ld,%ld,%ld\norigin=%ld,%ld\n", outer.left,
                outer.top, outer.right, outer.bottom, area.left, area.top, area.right, area.bottom,
                origin.x, origin.y);
    std::printf("toolwindow=%d\nappwindow=%d\ntopmost=%d\npid=%lu\n",
                (ex & WS_EX_TOOLWINDOW) != 0 ? 1 : 0, (ex & WS_EX_APPWINDOW) != 0 ? 1 : 0,
                (ex & WS_EX_TOPMOST) != 0 ? 1 : 0, static_cast<unsigned long>(found.pid));
    return 0;
}

int popups() {
    Found found;
    EnumWindows(&findMarked, reinterpret_cast<LPARAM>(&found));
    if (found.main == nullptr) {
        return 3;
    }
    EnumWindows(&countPopups, reinterpret_cast<LPARAM>(&found));
    const RECT& r = found.firstPopup;
    std::printf("%d %ld,%ld,%ld,%ld\n", found.popups, r.left, r.top, r.right, r.bottom);
    return 0;
}

int userMessages = 0;

LRESULT CALLBACK decoyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_USER) {
        ++userMessages;
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int decoy(int seconds) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &decoyProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KoravexDecoy";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"Koravex", WS_OVERLAPPED, 0, 0, 10, 10,
                                  nullptr, nullptr, wc.hInstance, nullptr);
    SetPropW(window, kMarker, reinterpret_cast<HANDLE>(1));
    std::puts("ready");
    std::fflush(stdout);
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
    while (GetTickCount64() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&msg);
        }
    }
    RemovePropW(window, kMarker);
    std::printf("wm_user=%d\n", userMessages);
    return 0;
}

int drive(const char* letter) {
    const wchar_t root[] = {static_cast<wchar_t>(letter[0]), L':', L'\\', 0};
    const UINT type = GetDriveTypeW(root);
    ULARGE_INTEGER free{};
    const bool space = GetDiskFreeSpaceExW(root, &free, nullptr, nullptr) != 0;
    std::printf("type=%u space=%d\n", type, space ? 1 : 0);
    return type == DRIVE_UNKNOWN || type == DRIVE_NO_ROOT_DIR || !space ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "window") == 0) {
        return window();
    }
    if (argc == 2 && std::strcmp(argv[1], "popups") == 0) {
        return popups();
    }
    if (argc == 3 && std::strcmp(argv[1], "decoy") == 0) {
        return decoy(std::atoi(argv[2]));
    }
    if (argc == 3 && std::strcmp(argv[1], "drive") == 0) {
        return drive(argv[2]);
    }
    std::fputs("usage: koravex-win-probe window | popups | decoy SECONDS | drive LETTER\n",
               stderr);
    return 2;
}
