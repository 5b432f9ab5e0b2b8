// The program's start: platform choice, single instance, the window and the event loop.
#include <unistd.h>
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <optional>

#include "shell/koravex_shell.h"
#include "shell/platform_choice.h"
#include "shell/posix/single_instance.h"
#include "shell/probes_factory.h"
#include "shell/quit_signals.h"
#include "shell/run.h"
#include "shell/startup_checks.h"
#include "ui/main_window.h"

namespace koravex {

int runKoravex() {
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

    // The instance is claimed only once the program can run: a start that cannot must not
    // keep the next one from running.
    if (const std::string problem = threadStartProblem(); !problem.empty()) {
        std::fprintf(stderr, "koravex: cannot start a thread: %s\n", problem.c_str());
        return 1;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();

    // Read once at start: if the file is replaced while the program runs (a package upgrade),
    // the link would later read "... (deleted)" and a start of the new file would not match.
    const std::string executablePath = ownExecutablePath();
    InstanceClaim claim = claimInstance({kInstanceWindowClass, executablePath});
    if (!claim.runHere) {
        return 0;
    }

    std::unique_ptr<Probes> probes = makeProbes();
    KoravexShell shell(*probes, &detectTrayKind, bus, [] { QCoreApplication::quit(); });
    if (claim.guard) {
        claim.guard->greeting = [&shell, executablePath] { return shell.greeting(executablePath); };
        claim.guard->onCommand = [&shell](InstanceCommand command) {
            shell.handleCommand(command);
        };
    }
    // A signal to end ends the program as the tray menu's Close does.
    QuitSignals quitSignals([&shell] { shell.quit(); });
    shell.window().show();
    // The tray's kind is asked as soon as the window is up, close to the time Qt chose how to
    // show the icon.
    QTimer::singleShot(0, &shell.window(), [&shell] { shell.tray().kind(); });
    QApplication::exec();
    return 0;
}

}  // namespace koravex
