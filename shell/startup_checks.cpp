#include "shell/startup_checks.h"

#include <unistd.h>
#include <QString>
#include <cstdio>
#include <system_error>
#include <thread>

namespace koravex {

namespace {

struct HeldMessage {
    QtMsgType type;
    QString category;
    QString text;
};

QtMessageHandler previousHandler = nullptr;
std::vector<HeldMessage>* heldMessages = nullptr;

void holdBack(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
        heldMessages->push_back(
            {type, QString::fromUtf8(context.category ? context.category : ""), text});
        return;
    }
    std::vector<WindowSystemStartGuard::Message> held;
    for (const HeldMessage& message : *heldMessages) {
        if (message.type != QtDebugMsg && message.type != QtInfoMsg) {
            held.push_back({message.category.toStdString(), message.text.toStdString()});
        }
    }
    const std::string line = WindowSystemStartGuard::failureLine(held, text.toStdString());
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    _exit(1);
}

}  // namespace

WindowSystemStartGuard::WindowSystemStartGuard() {
    heldMessages = new std::vector<HeldMessage>;
    previousHandler = qInstallMessageHandler(holdBack);
}

WindowSystemStartGuard::~WindowSystemStartGuard() {
    qInstallMessageHandler(previousHandler);
    for (const HeldMessage& message : *heldMessages) {
        const QByteArray category = message.category.toUtf8();
        QMessageLogContext context(nullptr, 0, nullptr, category.constData());
        if (previousHandler) {
            previousHandler(message.type, context, message.text);
        } else {
            qt_message_output(message.type, context, message.text);
        }
    }
    delete heldMessages;
    heldMessages = nullptr;
}

std::string WindowSystemStartGuard::failureLine(const std::vector<Message>& warnings,
                                                const std::string& fatal) {
    // Qt's own fatal text only advises reinstalling; the platform plugin's first warning names
    // the cause ("could not connect to display :1").
    const std::string* cause = &fatal;
    for (const Message& warning : warnings) {
        if (warning.category.rfind("qt.qpa", 0) == 0) {
            cause = &warning.text;
            break;
        }
    }
    std::string line = "koravex: cannot start the window system: ";
    for (const char c : *cause) {
        if (c == '\n') {
            break;
        }
        line += c;
    }
    return line;
}

std::string threadStartProblem() {
    try {
        std::thread probe([] {});
        probe.join();
    } catch (const std::system_error& error) {
        return error.code().message();
    }
    return {};
}

}  // namespace koravex
