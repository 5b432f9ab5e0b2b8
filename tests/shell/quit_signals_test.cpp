// The quit signals in processes of their own (this program started again as "child CASE"):
// a signal always ends the process within a second with exit code 0, whether the clean path
// runs, is stuck, or never started; the clean path, when it runs in time, runs once.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QWidget>
#include <cstdio>
#include <cstring>

#include "shell/quit_signals.h"

using namespace koravex;

namespace {

constexpr int kCleanExit = 3;  // what the clean path returns here, to tell it from the deadline

void ready() {
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
}

[[noreturn]] void stuck() {
    for (;;)
        ::pause();  // a handler returns here; only the deadline ends this
}

// Closing it only hides it, as the main window does.
class HidesOnClose : public QWidget {
  protected:
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        hide();
    }
};

bool quitSignalsBlocked() {
    sigset_t mask;
    ::pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    return sigismember(&mask, SIGTERM) || sigismember(&mask, SIGINT) || sigismember(&mask, SIGHUP);
}

// Each case prints "ready" once the signals may come.
int runChild(const char* name, int argc, char** argv) {
    const std::string which = name;
    if (which == "stuck") {
        takeQuitSignals();
        ready();
        stuck();
    }
    if (which == "held") {  // signals sent before takeQuitSignals (while the launcher forks)
        holdQuitSignals();
        ready();
        char go = 0;
        (void)!::read(0, &go, 1);  // the parent has signalled by then
        takeQuitSignals();
        stuck();
    }
    if (which == "close") {  // the tray's Close starts the deadline; the teardown is stuck
        takeQuitSignals();
        ready();
        startQuitDeadline();
        stuck();
    }
    if (which == "nofd") {  // no descriptor for the pipe
        const rlimit limit{3, 3};
        ::setrlimit(RLIMIT_NOFILE, &limit);
        holdQuitSignals();
        const std::string problem = takeQuitSignals();
        std::printf("%s|%s\n", problem.c_str(), quitSignalsBlocked() ? "blocked" : "open");
        ready();
        stuck();
    }
    if (which == "windows") {  // the program's own end, with windows that refuse to close
        takeQuitSignals();
        QApplication app(argc, argv);
        HidesOnClose window, other;
        window.show();
        other.show();
        int runs = 0;
        QuitSignals quitSignals([&] {
            ++runs;
            endEventLoop();
        });
        ready();
        const int code = QApplication::exec();
        std::printf("runs %d\n", runs);
        return code == 0 ? kCleanExit : code;
    }
    // The clean path through the event loop.
    takeQuitSignals();
    if (which == "early")
        ::raise(SIGTERM);  // before the application and the notifier exist
    QCoreApplication app(argc, argv);
    int runs = 0;
    QuitSignals quitSignals([&] {
        ++runs;
        if (which == "stuck-clean")
            stuck();
        QCoreApplication::exit(kCleanExit);
    });
    if (!quitSignals.installed())
        return 2;
    ready();
    const int code = QCoreApplication::exec();
    // Later signals are still taken (the handlers stay), without a second run.
    std::printf("runs %d\n", runs);
    return code;
}

}  // namespace

class QuitSignalsTest : public QObject {
    Q_OBJECT
  private slots:
    void signalEndsProcess_data();
    void signalEndsProcess();
};

void QuitSignalsTest::signalEndsProcess_data() {
    QTest::addColumn<QString>("child");
    QTest::addColumn<QStringList>("sends");  // sent one after another once it is ready
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");   // printed by the child after "ready", if anything
    QTest::addColumn<bool>("byDeadline");  // ended by the deadline (not before kQuitGrace)

    const QStringList term{QStringLiteral("TERM")};
    const QStringList all{QStringLiteral("TERM"), QStringLiteral("INT"), QStringLiteral("HUP")};
    QTest::newRow("stuck start, SIGTERM") << "stuck" << term << 0 << "" << true;
    QTest::newRow("stuck start, three signals") << "stuck" << all << 0 << "" << true;
    QTest::newRow("stuck start, SIGHUP") << "stuck" << QStringList{"HUP"} << 0 << "" << true;
    QTest::newRow("signal held while the launcher forks") << "held" << term << 0 << "" << true;
    QTest::newRow("Close, teardown stuck") << "close" << QStringList{} << 0 << "" << true;
    QTest::newRow("clean path, SIGTERM") << "clean" << term << kCleanExit << "runs 1" << false;
    QTest::newRow("clean path, three signals") << "clean" << all << kCleanExit << "runs 1" << false;
    QTest::newRow("program's end, windows refuse to close")
        << "windows" << term << kCleanExit << "runs 1" << false;
    QTest::newRow("signal before the event loop")
        << "early" << QStringList{} << kCleanExit << "runs 1" << false;
    QTest::newRow("clean path stuck, second signal") << "stuck-clean" << all << 0 << "" << true;
    QTest::newRow("no descriptor for the pipe")
        << "nofd" << term << 0
        << "cannot make a pipe for the quit signals: Too many open files|open" << true;
}

void QuitSignalsTest::signalEndsProcess() {
    QFETCH(QString, child);
    QFETCH(QStringList, sends);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(bool, byDeadline);

    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("child"), child});
    QVERIFY2(process.waitForStarted(5000), qPrintable(process.errorString()));
    QByteArray seen;
    // A loaded machine may take a while to start a process; "ready" is what it waits for.
    while (!seen.contains("ready\n") && process.waitForReadyRead(10000))
        seen += process.readAllStandardOutput();
    QVERIFY2(seen.contains("ready\n"), seen.constData());

    QElapsedTimer clock;
    clock.start();
    const pid_t pid = static_cast<pid_t>(process.processId());
    for (const QString& name : sends) {
        const int signo = name == QLatin1String("TERM")  ? SIGTERM
                          : name == QLatin1String("INT") ? SIGINT
                                                         : SIGHUP;
        QCOMPARE(::kill(pid, signo), 0);
    }
    if (child == QLatin1String("held"))
        process.write("g");
    // Bounded well past the time the process has, to report what it took when it misses.
    const qint64 allowed = kQuitGrace.count() + 500;  // a second in a normal build
    QVERIFY2(process.waitForFinished(static_cast<int>(allowed + 5000)),
             "the process did not end at all");
    const qint64 took = clock.elapsed();
    seen += process.readAllStandardOutput();
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    QVERIFY2(took < allowed, qPrintable(QStringLiteral("ended %1 ms after the signal").arg(took)));
    if (byDeadline) {
        QVERIFY2(took >= kQuitGrace.count() - 20,
                 qPrintable(QStringLiteral("ended after %1 ms, before the deadline").arg(took)));
    }
    if (!output.isEmpty()) {
        QVERIFY2(seen.contains(output.toUtf8()), seen.constData());
    }
    qInfo("%s: ended %lld ms after the first signal", qPrintable(child),
          static_cast<long long>(took));
}

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "child") == 0)
        return runChild(argv[2], argc, argv);
    QCoreApplication app(argc, argv);
    QuitSignalsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "quit_signals_test.moc"
