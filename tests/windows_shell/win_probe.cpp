// koravex-win-probe: what the end-to-end tests ask of the Windows side, under Wine.
//   window             the marked main window: visibility, caption, client size, outer
//                      rectangle, the work area, the extended styles; exit 3 when none
//   popups             how many visible top-level windows the main window's process has
//                      besides it, and the first one's rectangle
//   decoy SECONDS      a marked window of this (other) executable; prints how many WM_USER
//                      it received before SECONDS ran out
//   drive LETTER       the drive's type and whether its free space can be read; exit 1 while
//                      Windows does not know the drive (the prefix's mount manager not up yet)
//   tell WINDOW WHAT   a request to end, to the tray record's window (WINDOW tray, found by
//                      its class) or to the main window (main): close posts WM_CLOSE, as
//                      taskkill does; queryend, endsession and endsession-refused send
//                      WM_QUERYENDSESSION, WM_ENDSESSION TRUE and FALSE, as the system
//                      does, and print the answer ("ended=1" when the program ended
//                      while it handled the message); exit 3 when there is no such window,
//                      4 when the message could not be delivered within 5 s
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

int tell(const char* which, const char* what) {
    HWND target = nullptr;
    if (std::strcmp(which, "tray") == 0) {
        target = FindWindowW(L"KoravexTrayWindow", nullptr);
    } else if (std::strcmp(which, "main") == 0) {
        Found found;
        EnumWindows(&findMarked, reinterpret_cast<LPARAM>(&found));
        target = found.main;
    }
    if (target == nullptr) {
        std::puts("found=0");
        return 3;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(target, &pid);
    std::printf("found=1\npid=%lu\n", static_cast<unsigned long>(pid));
    if (std::strcmp(what, "close") == 0) {
        return PostMessageW(target, WM_CLOSE, 0, 0) ? 0 : 4;
    }
    UINT message = WM_ENDSESSION;
    WPARAM wParam = TRUE;
    if (std::strcmp(what, "queryend") == 0) {
        message = WM_QUERYENDSESSION;
        wParam = 0;
    } else if (std::strcmp(what, "endsession-refused") == 0) {
        wParam = FALSE;
    } else if (std::strcmp(what, "endsession") != 0) {
        return 2;
    }
    // A program may end while it handles WM_ENDSESSION: the send then fails, and that is its
    // answer.
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutW(target, message, wParam, 0, SMTO_ABORTIFHUNG, 5000, &answer) == 0) {
        const DWORD error = GetLastError();
        if (process != nullptr && WaitForSingleObject(process, 1000) == WAIT_OBJECT_0) {
            std::puts("ended=1");
            return 0;
        }
        std::printf("error=%lu\n", static_cast<unsigned long>(error));
        return 4;
    }
    std::printf("answer=%llu\n", static_cast<unsigned long long>(answer));
    return 0;
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
    if (argc == 4 && std::strcmp(argv[1], "tell") == 0) {
        return tell(argv[2], argv[3]);
    }
    std::fputs(
        "usage: koravex-win-probe window | popups | decoy SECONDS | drive LETTER | tell WINDOW "
        "WHAT\n",
        stderr);
    return 2;
}
