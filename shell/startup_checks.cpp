#include "shell/startup_checks.h"

#include <unistd.h>
#include <QString>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

namespace koravex {

namespace {

QtMessageHandler previousHandler = nullptr;
std::vector<std::string> heldBack;  // the platform plugin's warnings, while the guard lives

void holdBack(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        const std::string line = WindowSystemStartGuard::failureLine(heldBack, text.toStdString());
        std::fprintf(stderr, "%s\n", line.c_str());
        _exit(1);
    }
    if (context.category && std::strncmp(context.category, "qt.qpa", 6) == 0) {
        heldBack.push_back(text.toStdString());
    } else if (previousHandler) {
        previousHandler(type, context, text);
    }
}

}  // namespace

WindowSystemStartGuard::WindowSystemStartGuard() {
    previousHandler = qInstallMessageHandler(holdBack);
}

WindowSystemStartGuard::~WindowSystemStartGuard() {
    qInstallMessageHandler(previousHandler);
    for (const std::string& text : std::exchange(heldBack, {})) {
        qWarning("%s", text.c_str());
    }
}

std::string WindowSystemStartGuard::failureLine(const std::vector<std::string>& held,
                                                const std::string& fatal) {
    // Qt's own fatal text only advises reinstalling; the plugin's warning names the cause
    // ("could not connect to display :1").
    std::string cause = held.empty() ? fatal : held.front();
    cause = cause.substr(0, cause.find('\n'));
    return "koravex: cannot start the window system: " +
           cause.substr(0, cause.find_last_not_of(' ') + 1);
}

std::string threadStartProblem() {
    try {
        std::thread([] {}).join();
    } catch (const std::system_error& error) {
        return error.code().message();
    }
    return {};
}

}  // namespace koravex
