// The shell on Windows against the real calls (under Wine here): the instance mutex and its
// abandoned case, the search for the marked main window by executable path, the hand-over,
// the tray record handed to the shell at each step, the icon's callback, the requests to end
// sent to the tray's window, the deadline of a quit, and the shell around a real main window.
#include <windows.h>

#include <QCoreApplication>
#include <QMenu>
#include <QTest>
#include <atomic>
#include <thread>
#include <vector>

#include "shell/windows/instance_windows.h"
#include "shell/windows/quit_deadline.h"
#include "shell/windows/tray_record.h"
#include "shell/windows/windows_shell.h"
#include "tests/support/fake_probes.h"
#include "ui/main_window.h"

using namespace koravex;

Q_DECLARE_METATYPE(koravex::MutexWait)

namespace {

std::wstring uniqueName(const wchar_t* stem) {
    static int serial = 0;
    return std::wstring(stem) + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(++serial);
}

// A top-level window of this process that counts the WM_USER it receives.
struct CountingWindow {
    static inline int userMessages = 0;
    static LRESULT CALLBACK proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
        if (m == WM_USER) {
            ++userMessages;
            return 0;
        }
        return DefWindowProcW(w, m, wp, lp);
    }
    HWND hwnd = nullptr;
    explicit CountingWindow(bool visible) {
        static const ATOM atom = [] {
            WNDCLASSW wc{};
            wc.lpfnWndProc = &CountingWindow::proc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"KoravexTestWindow";
            return RegisterClassW(&wc);
        }();
        Q_UNUSED(atom);
        hwnd = CreateWindowExW(0, L"KoravexTestWindow", L"test", WS_OVERLAPPED, 0, 0, 50, 50,
                               nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (visible) {
            ShowWindow(hwnd, SW_SHOWNOACTIVATE);
        }
    }
    ~CountingWindow() {
        unmarkMainWindow(hwnd);
        DestroyWindow(hwnd);
    }
};

void pumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

struct NotifyCall {
    DWORD message;
    NOTIFYICONDATAW record;
};

}  // namespace

class ShellWindowsTest : public QObject {
    Q_OBJECT
  private slots:
    void mutexWaits_data();
    void mutexWaits();
    void searchTestsMarkerAndPath_data();
    void searchTestsMarkerAndPath();
    void handOverPostsOnlyToHidden_data();
    void handOverPostsOnlyToHidden();
    void trayRecordThroughTheRun();
    void balloonResultAndLimits_data();
    void balloonResultAndLimits();
    void callbackByMouseMessage_data();
    void callbackByMouseMessage();
    void taskbarRestartAddsTheIconAgain();
    void shellMarksWindowAndShowsOnWmUser();
    void shellQuitDeletesIconAndEndsLoop();
    void requestsToEnd_data();
    void requestsToEnd();
    void quitDeadlineEndsAfterItsBudget();
};

void ShellWindowsTest::mutexWaits_data() {
    QTest::addColumn<int>("before");  // 0 nobody, 1 another thread holds it, 2 it died holding
    QTest::addColumn<MutexWait>("expected");
    QTest::addColumn<bool>("runs");
    QTest::newRow("free") << 0 << MutexWait::Free << true;
    QTest::newRow("held elsewhere") << 1 << MutexWait::Owned << false;
    QTest::newRow("abandoned") << 2 << MutexWait::Abandoned << true;
}

void ShellWindowsTest::mutexWaits() {
    QFETCH(int, before);
    QFETCH(MutexWait, expected);
    QFETCH(bool, runs);
    const std::wstring name = uniqueName(L"KoravexTestMutex");
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread holder;
    if (before != 0) {
        HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        holder = std::thread([&, taken] {
            takeInstanceMutex(name.c_str());
            SetEvent(taken);
            if (before == 1) {
                WaitForSingleObject(release, 10000);
            }
        });
        WaitForSingleObject(taken, 10000);
        CloseHandle(taken);
        if (before == 2) {
            holder.join();  // the thread ended owning the mutex
        }
    }
    const MutexWait wait = takeInstanceMutex(name.c_str());
    SetEvent(release);
    if (holder.joinable()) {
        holder.join();
    }
    CloseHandle(release);
    QCOMPARE(wait, expected);
    QCOMPARE(runsAsInstance(wait), runs);
}

void ShellWindowsTest::searchTestsMarkerAndPath_data() {
    QTest::addColumn<bool>("marked");
    QTest::addColumn<QString>("pathChange");  // applied to our own path: "", "upper", "+x", "none"
    QTest::addColumn<bool>("found");
    QTest::newRow("marked, same path") << true << "" << true;
    QTest::newRow("unmarked") << false << "" << false;
    QTest::newRow("path differs in case only") << true << "upper" << false;
    QTest::newRow("longer path") << true << "+x" << false;
    QTest::newRow("empty own path") << true << "none" << false;
}

void ShellWindowsTest::searchTestsMarkerAndPath() {
    QFETCH(bool, marked);
    QFETCH(QString, pathChange);
    QFETCH(bool, found);
    std::wstring path = processImagePath(GetCurrentProcessId());
    QVERIFY(!path.empty());
    if (pathChange == "upper") {
        CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
        QVERIFY(path != processImagePath(GetCurrentProcessId()));
    } else if (pathChange == "+x") {
        path += L"x";
    } else if (pathChange == "none") {
        path.clear();
    }
    CountingWindow window(false);
    if (marked) {
        markMainWindow(window.hwnd);
    }
    const HWND result = findInstanceWindow(path);
    QCOMPARE(result == window.hwnd, found);
    if (!found) {
        QVERIFY(result == nullptr);
    }
}

void ShellWindowsTest::handOverPostsOnlyToHidden_data() {
    QTest::addColumn<bool>("visible");
    QTest::addColumn<int>("posted");
    QTest::newRow("hidden window gets WM_USER") << false << 1;
    QTest::newRow("visible window is only raised") << true << 0;
}

void ShellWindowsTest::handOverPostsOnlyToHidden() {
    QFETCH(bool, visible);
    QFETCH(int, posted);
    CountingWindow window(visible);
    markMainWindow(window.hwnd);
    CountingWindow::userMessages = 0;
    handOverTo(findInstanceWindow(processImagePath(GetCurrentProcessId())));
    pumpMessages();
    QCOMPARE(CountingWindow::userMessages, posted);
}

void ShellWindowsTest::trayRecordThroughTheRun() {
    std::vector<NotifyCall> calls;
    const HICON icon = LoadIconW(nullptr, IDI_APPLICATION);
    TrayRecord tray(
        [&](DWORD message, NOTIFYICONDATAW* record) {
            calls.push_back({message, *record});
            return TRUE;
        },
        icon);
    tray.add();
    tray.add();
    QVERIFY(tray.showBalloon(QStringLiteral("Внимание!"), QStringLiteral("text one")));
    QVERIFY(tray.showBalloon(QStringLiteral("Внимание!"), QStringLiteral("text two")));
    tray.remove();
    tray.remove();
    QVERIFY(!tray.showBalloon(QStringLiteral("Внимание!"), QStringLiteral("late")));

    const std::vector<std::pair<DWORD, UINT>> expected{
        {NIM_ADD, 0x7}, {NIM_MODIFY, 0x17}, {NIM_MODIFY, 0x17}, {NIM_DELETE, 0}};
    QCOMPARE(calls.size(), expected.size());
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const NOTIFYICONDATAW& r = calls[i].record;
        QCOMPARE(calls[i].message, expected[i].first);
        QCOMPARE(r.uFlags, expected[i].second);
        QCOMPARE(r.cbSize, static_cast<DWORD>(NOTIFYICONDATAW_V2_SIZE));
        QVERIFY(r.hWnd == tray.window() && r.hWnd != nullptr);
        QCOMPARE(r.uID, 1u);
        QCOMPARE(r.uCallbackMessage, 0x0800u);
        QVERIFY(r.hIcon == icon);
        QCOMPARE(QString::fromWCharArray(r.szTip), QStringLiteral("Koravex"));
        for (int c = 7; c < 128; ++c) {
            QCOMPARE(static_cast<int>(r.szTip[c]), 0);
        }
    }
    const NOTIFYICONDATAW& balloon = calls[2].record;
    QCOMPARE(QString::fromWCharArray(balloon.szInfo), QStringLiteral("text two"));
    QCOMPARE(QString::fromWCharArray(balloon.szInfoTitle), QStringLiteral("Внимание!"));
    QCOMPARE(balloon.uTimeout, 20000u);
    QCOMPARE(balloon.dwInfoFlags, static_cast<DWORD>(NIIF_WARNING));
    QCOMPARE(calls[0].record.uTimeout, 0u);  // the balloon fields stay zero until an alert
    QCOMPARE(static_cast<int>(calls[0].record.szInfo[0]), 0);
}

void ShellWindowsTest::balloonResultAndLimits_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("shellAccepts");
    QTest::addColumn<QString>("storedTitle");
    QTest::addColumn<QString>("storedText");
    const QString t = QStringLiteral("Внимание!");
    const QString longText(300, QChar(u'ж'));
    const QString pairAtEnd = QString(254, QChar(u'a')) + QStringLiteral("\U0001F4BE") + "b";
    QTest::newRow("accepted") << t << "x" << true << t << "x";
    QTest::newRow("refused") << t << "x" << false << t << "x";
    QTest::newRow("text cut at 255") << t << longText << true << t << longText.left(255);
    QTest::newRow("no half pair") << t << pairAtEnd << true << t << pairAtEnd.left(254);
    QTest::newRow("title cut at 63")
        << QString(70, QChar(u'т')) << "x" << true << QString(63, QChar(u'т')) << "x";
}

void ShellWindowsTest::balloonResultAndLimits() {
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(bool, shellAccepts);
    QFETCH(QString, storedTitle);
    QFETCH(QString, storedText);
    TrayRecord tray(
        [&](DWORD message, NOTIFYICONDATAW*) { return message != NIM_MODIFY || shellAccepts; },
        LoadIconW(nullptr, IDI_APPLICATION));
    tray.add();
    QCOMPARE(tray.showBalloon(title, text), shellAccepts);
    QCOMPARE(QString::fromWCharArray(tray.record().szInfoTitle), storedTitle);
    QCOMPARE(QString::fromWCharArray(tray.record().szInfo), storedText);
}

void ShellWindowsTest::callbackByMouseMessage_data() {
    QTest::addColumn<qint64>("lParam");
    QTest::addColumn<int>("menus");
    QTest::addColumn<int>("shows");
    QTest::newRow("right button down") << qint64(WM_RBUTTONDOWN) << 1 << 0;
    QTest::newRow("left double click") << qint64(WM_LBUTTONDBLCLK) << 0 << 1;
    QTest::newRow("left down") << qint64(WM_LBUTTONDOWN) << 0 << 0;
    QTest::newRow("left up") << qint64(WM_LBUTTONUP) << 0 << 0;
    QTest::newRow("right up") << qint64(WM_RBUTTONUP) << 0 << 0;
    QTest::newRow("move") << qint64(WM_MOUSEMOVE) << 0 << 0;
    QTest::newRow("context menu") << qint64(WM_CONTEXTMENU) << 0 << 0;
    QTest::newRow("more in the low word's neighbour") << qint64(0x10000 | WM_RBUTTONDOWN) << 0 << 0;
}

void ShellWindowsTest::callbackByMouseMessage() {
    QFETCH(qint64, lParam);
    QFETCH(int, menus);
    QFETCH(int, shows);
    TrayRecord tray([](DWORD, NOTIFYICONDATAW*) { return TRUE; },
                    LoadIconW(nullptr, IDI_APPLICATION));
    int menuCount = 0;
    int showCount = 0;
    POINT at{-1, -1};
    tray.onRightButtonDown = [&](POINT cursor) {
        ++menuCount;
        at = cursor;
    };
    tray.onLeftDoubleClick = [&] { ++showCount; };
    tray.add();
    POINT cursor{};
    GetCursorPos(&cursor);
    SendMessageW(tray.window(), TrayRecord::kCallbackMessage, TrayRecord::kIconId,
                 static_cast<LPARAM>(lParam));
    QCOMPARE(menuCount, menus);
    QCOMPARE(showCount, shows);
    if (menus > 0) {
        QCOMPARE(at.x, cursor.x);
        QCOMPARE(at.y, cursor.y);
    }
}

void ShellWindowsTest::taskbarRestartAddsTheIconAgain() {
    std::vector<std::pair<DWORD, UINT>> calls;
    TrayRecord tray(
        [&](DWORD message, NOTIFYICONDATAW* record) {
            calls.emplace_back(message, record->uFlags);
            return TRUE;
        },
        LoadIconW(nullptr, IDI_APPLICATION));
    const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    SendMessageW(tray.window(), taskbarCreated, 0, 0);  // before the icon exists: nothing
    tray.add();
    tray.showBalloon(QStringLiteral("Внимание!"), QStringLiteral("low"));
    SendMessageW(tray.window(), taskbarCreated, 0, 0);
    QCOMPARE(tray.record().uFlags, 0x17u);  // the record keeps its balloon flag
    tray.remove();
    SendMessageW(tray.window(), taskbarCreated, 0, 0);  // after Close: nothing
    const std::vector<std::pair<DWORD, UINT>> expected{
        {NIM_ADD, 0x7}, {NIM_MODIFY, 0x17}, {NIM_ADD, 0x7}, {NIM_DELETE, 0}};
    QCOMPARE(calls, expected);
}

void ShellWindowsTest::shellMarksWindowAndShowsOnWmUser() {
    FakeProbes probes(FakeProbes::sample());
    std::vector<DWORD> messages;
    WindowsShell shell(probes,
                       [&](DWORD message, NOTIFYICONDATAW*) {
                           messages.push_back(message);
                           return TRUE;
                       },
                       {});
    QCOMPARE(messages, std::vector<DWORD>{NIM_ADD});  // added while the window was made
    const HWND main = shell.mainWindow();
    QVERIFY(main != nullptr);
    QVERIFY(GetPropW(main, kMainWindowMarker) != nullptr);
    QVERIFY(findInstanceWindow(processImagePath(GetCurrentProcessId())) == main);

    // Shown at the work area's bottom right corner, the whole window frame included, at
    // start and after every show.
    const auto atCorner = [main] {
        RECT area{};
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
        RECT outer{};
        GetWindowRect(main, &outer);
        return outer.right == area.right && outer.bottom == area.bottom;
    };
    shell.showAtStart();
    QVERIFY(QTest::qWaitForWindowExposed(&shell.window()));
    QTRY_VERIFY(atCorner());
    const LONG_PTR exStyle = GetWindowLongPtrW(main, GWL_EXSTYLE);
    QVERIFY((exStyle & WS_EX_TOOLWINDOW) != 0);  // no task-bar button
    QVERIFY((exStyle & WS_EX_APPWINDOW) == 0);
    QVERIFY((exStyle & WS_EX_TOPMOST) != 0);
    RECT client{};
    GetClientRect(main, &client);
    QCOMPARE(client.right - client.left, 373);
    QCOMPARE(client.bottom - client.top, 201);

    shell.window().Hide1Click();
    QTRY_VERIFY(!IsWindowVisible(main));
    PostMessageW(main, WM_USER, 0, 0);
    QTRY_VERIFY(IsWindowVisible(main));
    QTRY_VERIFY(atCorner());
}

void ShellWindowsTest::shellQuitDeletesIconAndEndsLoop() {
    FakeProbes probes(FakeProbes::sample());
    std::vector<std::pair<DWORD, UINT>> calls;
    int ended = 0;
    WindowsShell shell(
        probes,
        [&](DWORD message, NOTIFYICONDATAW* record) {
            calls.emplace_back(message, record->uFlags);
            return TRUE;
        },
        [&] { ++ended; });
    shell.window().Close1Click();
    const std::vector<std::pair<DWORD, UINT>> expected{{NIM_ADD, 0x7}, {NIM_DELETE, 0}};
    QCOMPARE(calls, expected);
    QCOMPARE(ended, 1);
}

void ShellWindowsTest::requestsToEnd_data() {
    QTest::addColumn<bool>("toMain");  // else to the tray record's window
    QTest::addColumn<uint>("message");
    QTest::addColumn<qint64>("wParam");
    QTest::addColumn<int>("times");
    QTest::addColumn<qint64>("answer");
    QTest::addColumn<bool>("quits");
    QTest::newRow("WM_CLOSE (taskkill, an installer)")
        << false << uint(WM_CLOSE) << qint64(0) << 1 << qint64(0) << true;
    QTest::newRow("WM_CLOSE twice: the icon deleted once")
        << false << uint(WM_CLOSE) << qint64(0) << 2 << qint64(0) << true;
    QTest::newRow("WM_QUERYENDSESSION: allowed, the program goes on")
        << false << uint(WM_QUERYENDSESSION) << qint64(0) << 1 << qint64(TRUE) << false;
    QTest::newRow("WM_ENDSESSION, the session ends")
        << false << uint(WM_ENDSESSION) << qint64(TRUE) << 1 << qint64(0) << true;
    QTest::newRow("WM_ENDSESSION, another program refused")
        << false << uint(WM_ENDSESSION) << qint64(FALSE) << 1 << qint64(0) << false;
    QTest::newRow("WM_CLOSE to the main window only hides it")
        << true << uint(WM_CLOSE) << qint64(0) << 1 << qint64(0) << false;
}

void ShellWindowsTest::requestsToEnd() {
    QFETCH(bool, toMain);
    QFETCH(uint, message);
    QFETCH(qint64, wParam);
    QFETCH(int, times);
    QFETCH(qint64, answer);
    QFETCH(bool, quits);
    FakeProbes probes(FakeProbes::sample());
    std::vector<DWORD> calls;
    int ended = 0;
    int deadlines = 0;
    WindowsShell shell(
        probes,
        [&](DWORD notifyMessage, NOTIFYICONDATAW*) {
            calls.push_back(notifyMessage);
            return TRUE;
        },
        [&] { ++ended; },
        [&] {
            // The deadline runs before anything that may wait, the icon's deletion first.
            QCOMPARE(calls.back(), static_cast<DWORD>(NIM_ADD));
            ++deadlines;
        });
    if (toMain) {
        shell.showAtStart();
        QVERIFY(QTest::qWaitForWindowExposed(&shell.window()));
    }
    const HWND target = toMain ? shell.mainWindow() : shell.tray().window();
    for (int i = 0; i < times; ++i) {
        QCOMPARE(static_cast<qint64>(SendMessageW(target, message, static_cast<WPARAM>(wParam), 0)),
                 answer);
    }
    if (toMain) {
        QTRY_VERIFY(!IsWindowVisible(shell.mainWindow()));
        QVERIFY(!shell.window().isVisible());
    }
    const std::vector<DWORD> expected =
        quits ? std::vector<DWORD>{NIM_ADD, NIM_DELETE} : std::vector<DWORD>{NIM_ADD};
    QCOMPARE(calls, expected);
    QCOMPARE(ended, quits ? times : 0);
    QCOMPARE(deadlines, quits ? 1 : 0);
    // The window stays, and with it the record's messages until the program has ended.
    QVERIFY(IsWindow(shell.tray().window()));
    QCOMPARE(shell.tray().record().hWnd, shell.tray().window());
}

void ShellWindowsTest::quitDeadlineEndsAfterItsBudget() {
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<ULONGLONG> endedAt{0};
    const ULONGLONG start = GetTickCount64();
    {
        QuitDeadline deadline(std::chrono::milliseconds(300), [&] {
            endedAt = GetTickCount64();
            SetEvent(done);
        });
        deadline.arm();
        deadline.arm();
    }  // gone long before its time, as the clean path may take it: the count goes on
    const DWORD wait = WaitForSingleObject(done, 10000);
    CloseHandle(done);
    QCOMPARE(wait, static_cast<DWORD>(WAIT_OBJECT_0));
    // The tick counter moves in steps of up to 16 ms.
    QVERIFY2(endedAt - start >= 284, qPrintable(QString::number(endedAt - start)));
}

QTEST_MAIN(ShellWindowsTest)
#include "shell_windows_test.moc"
