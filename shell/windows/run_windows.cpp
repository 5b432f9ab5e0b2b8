// The program's start on Windows: the instance mutex, then the hand-over or the window and
// the event loop.
#include <QApplication>
#include <QFile>
#include <QTextStream>

#include "shell/probes_factory.h"
#include "shell/windows/instance_windows.h"
#include "shell/windows/quit_deadline.h"
#include "shell/windows/windows_shell.h"
#include "ui/main_window.h"

namespace koravex {

namespace {

// With KORAVEX_TRAY_TRACE naming a file, every call on the tray icon is written to it, one
// line each: the tests read what the shell was handed and what it answered.
TrayRecord::NotifyCall tracedNotify() {
    const QString path = qEnvironmentVariable("KORAVEX_TRAY_TRACE");
    if (path.isEmpty()) {
        return {};
    }
    return [path](DWORD message, NOTIFYICONDATAW* record) {
        const ULONGLONG start = GetTickCount64();
        const BOOL result = Shell_NotifyIconW(message, record);
        const ULONGLONG took = GetTickCount64() - start;
        QFile file(path);
        if (file.open(QIODevice::Append | QIODevice::Text)) {
            QTextStream out(&file);
            out.setEncoding(QStringConverter::Utf8);
            out << "op=" << message << " result=" << result << " size=" << record->cbSize
                << " id=" << record->uID << " flags=0x" << Qt::hex << record->uFlags << Qt::dec
                << " callback=0x" << Qt::hex << record->uCallbackMessage << Qt::dec
                << " icon=" << (record->hIcon != nullptr ? 1 : 0)
                << " tip=" << QString::fromWCharArray(record->szTip)
                << " timeout=" << record->uTimeout << " infoflags=" << record->dwInfoFlags
                << " title=" << QString::fromWCharArray(record->szInfoTitle)
                << " text=" << QString::fromWCharArray(record->szInfo) << " ms=" << took << "\n";
        }
        return result;
    };
}

// From a quit to the end of the process at most. The clean path takes about 100 ms with the
// window hidden (under Wine, on a loaded machine).
constexpr std::chrono::milliseconds kQuitBudget{500};

// What ends the process at the quit's deadline: with the trace on, a line "quit deadline" is
// written first, with calls that take no lock the stuck thread may hold (no heap, no C
// library, no Qt).
QuitDeadline::EndCall tracedDeadlineEnd() {
    const QString path = qEnvironmentVariable("KORAVEX_TRAY_TRACE");
    if (path.isEmpty()) {
        return {};
    }
    return [path = path.toStdWString()] {
        const HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            static constexpr char kLine[] = "quit deadline\n";
            DWORD written = 0;
            WriteFile(file, kLine, sizeof kLine - 1, &written, nullptr);
            CloseHandle(file);
        }
        TerminateProcess(GetCurrentProcess(), 0);
    };
}

}  // namespace

int runKoravex() {
    if (!runsAsInstance(takeInstanceMutex(kInstanceMutexName))) {
        // Another instance runs: no window of ours, no toolkit start.
        handOverTo(findInstanceWindow(processImagePath(GetCurrentProcessId())));
        return 0;
    }

    // The program reads no command line; Qt gets only a program name.
    int qtArgc = 1;
    char programName[] = "koravex";
    char* qtArgv[] = {programName, nullptr};
    QApplication app(qtArgc, qtArgv);
    QApplication::setQuitOnLastWindowClosed(false);

    std::unique_ptr<Probes> probes = makeProbes();
    QuitDeadline deadline(kQuitBudget, tracedDeadlineEnd());
    WindowsShell shell(
        *probes, tracedNotify(), [] { QCoreApplication::exit(0); },
        [&deadline] { deadline.arm(); });
    shell.showAtStart();
    QApplication::exec();
    return 0;
}

}  // namespace koravex
