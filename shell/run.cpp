// The program's start: platform choice, single instance, the window and the event loop.
#include <unistd.h>
#include <QApplication>
#include <QTimer>

#include "shell/koravex_shell.h"
#include "shell/platform_choice.h"
#include "shell/probes_factory.h"
#include "shell/quit_signals.h"
#include "shell/single_instance.h"
#include "ui/main_window.h"

namespace koravex {

int runKoravex() {
    applyPlatformPreference();

    // The program reads no command line; Qt gets only a program name.
    int qtArgc = 1;
    char programName[] = "koravex";
    char* qtArgv[] = {programName, nullptr};
    QApplication app(qtArgc, qtArgv);
    QApplication::setQuitOnLastWindowClosed(false);

    // Read once at start: if the file is replaced while the program runs (a package upgrade),
    // the link would later read "... (deleted)" and a start of the new file would not match.
    const QByteArray executablePath = ownExecutablePath();
    InstanceClaim claim = claimInstance(QString::fromLatin1(kInstanceBaseName),
                                        {QByteArrayLiteral("TForm1"), executablePath}, getuid());
    if (!claim.runHere) {
        return 0;
    }

    std::unique_ptr<Probes> probes = makeProbes();
    KoravexShell shell(*probes, &detectTrayKind, QDBusConnection::sessionBus(),
                       [] { QCoreApplication::quit(); });
    if (claim.server) {
        claim.server->greeting = [&shell, executablePath] {
            return shell.greeting(executablePath);
        };
        claim.server->onCommand = [&shell](InstanceCommand command) {
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
