// The program's start: platform choice, single instance, the window and the event loop.
#include <unistd.h>
#include <QApplication>
#include <QDBusConnectionInterface>
#include <QThreadPool>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "shell/koravex_shell.h"
#include "shell/platform_choice.h"
#include "shell/posix/descriptors_posix.h"
#include "shell/posix/session_bus_check.h"
#include "shell/posix/single_instance.h"
#include "shell/probes_factory.h"
#include "shell/quit_signals.h"
#include "shell/run.h"
#include "shell/startup_checks.h"
#include "ui/main_window.h"

namespace koravex {

namespace {

// What the window's thread waits at most for the session bus's check, once the window
// system is up (the check runs meanwhile), and for any call Qt makes on the bus itself
// (the tray's name and its removal, accessibility's question).
constexpr std::chrono::milliseconds kBusWait{100};
// The check's own limit, from the start of the start.
constexpr std::chrono::milliseconds kBusCheckLimit{2000};

}  // namespace

int runKoravex() {
    // From here on a quit signal ends the program within a second, whatever the start waits
    // for: the clean way when the start gets that far in time, else by the deadline.
    if (const std::string problem = takeQuitSignals(); !problem.empty()) {
        std::fprintf(stderr, "koravex: %s\n", problem.c_str());
        return 1;
    }
    if (const std::string problem = descriptorProblem(); !problem.empty()) {
        std::fprintf(stderr, "koravex: %s\n", problem.c_str());
        return 1;
    }
    SessionBusCheck busCheck(kBusCheckLimit);
    applyPlatformPreference();

    // The program reads no command line; Qt gets only a program name.
    int qtArgc = 1;
    char programName[] = "koravex";
    char* qtArgv[] = {programName, nullptr};
    std::optional<QApplication> application;
    {
        const WindowSystemStartGuard guard;
        application.emplace(qtArgc, qtArgv);
    }
    QApplication::setQuitOnLastWindowClosed(false);
    // Qt paints with the help of pooled threads. Kept once made, rather than made again after
    // each idle half minute: a thread made when the descriptors have run out ends the process.
    QThreadPool::globalInstance()->setExpiryTimeout(-1);

    // The instance is claimed only once the program can run: a start that cannot must not
    // keep the next one from running.
    if (const std::string problem = threadStartProblem(); !problem.empty()) {
        std::fprintf(stderr, "koravex: cannot start a thread: %s\n", problem.c_str());
        return 1;
    }
    if (quitSignalled()) {
        return 0;
    }
    // Qt's first use of the bus (this one) decides for the whole process: a bus that never
    // answered the check is replaced by an address that fails at once, so that nothing in
    // Qt waits for it later.
    const auto busDeadline = std::chrono::steady_clock::now() + kBusWait;
    if (busCheck.result(busDeadline) == BusState::Silent) {
        std::fprintf(stderr, "koravex: the session bus does not answer; running without it\n");
        ::setenv("DBUS_SESSION_BUS_ADDRESS", kNoBusAddress, 1);
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        // Qt's own blocking calls go through this one interface object.
        bus.interface()->setTimeout(static_cast<int>(kBusWait.count()));
    }

    // Read once at start: if the file is replaced while the program runs (a package upgrade),
    // the link would later read "... (deleted)" and a start of the new file would not match.
    const std::string executablePath = ownExecutablePath();
    InstanceClaim claim = claimInstance({kInstanceWindowClass, executablePath});
    if (!claim.runHere || quitSignalled()) {
        return 0;
    }

    std::unique_ptr<Probes> probes = makeProbes();
    // XEmbed until the bus says otherwise (a click before that is taken as XEmbed's).
    KoravexShell shell(
        *probes, [] { return TrayKind::XEmbed; }, bus, endEventLoop);
    askTrayKind(bus, &shell, [&shell](TrayKind kind) { shell.tray().setKind(kind); });
    if (claim.guard) {
        claim.guard->greeting = [&shell, executablePath] { return shell.greeting(executablePath); };
        claim.guard->onCommand = [&shell](InstanceCommand command) {
            shell.handleCommand(command);
        };
    }
    // A signal to end ends the program as the tray menu's Close does; one that came during
    // the start ends it here, before the window is shown.
    QuitSignals quitSignals([&shell] { shell.quit(); });
    if (quitSignalled()) {
        return 0;
    }
    shell.window().show();
    QApplication::exec();
    return 0;
}

}  // namespace koravex
