#pragma once
// SIGTERM, SIGINT and SIGHUP end the program the way the tray menu's Close does: the tray
// icon is removed, the event loop ends, everything is closed, and the exit code is 0.
// The handler only writes a byte to a pipe, which the event loop reads, and starts the quit
// deadline: whatever the clean path waits for (a stopped X server, a stopped bus daemon, a
// start that makes no progress), the process ends with exit code 0 once it has passed.
#include <QObject>
#include <QSocketNotifier>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace koravex {

// From the first quit (signal or Close) to the forced end: the clean path takes some tens of
// milliseconds; the rest of the second is margin for a loaded machine. A sanitizer build
// gives the clean path longer: its leak check at exit must never be cut short.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr std::chrono::milliseconds kQuitGrace{3000};
#else
inline constexpr std::chrono::milliseconds kQuitGrace{500};
#endif

// Holds SIGTERM, SIGINT and SIGHUP back until takeQuitSignals: only the drive launcher is
// forked meanwhile (it must not inherit the handlers). Call first in main, before any thread
// is started (threads inherit what is held).
void holdQuitSignals();

// Installs the handlers for the rest of the run and lets held signals through (one held back
// arrives now and starts the deadline). Returns why the signals' pipe cannot be made (too
// few descriptors), empty on success; the signals are let through either way, and still
// start the deadline.
std::string takeQuitSignals();

// Whether a quit signal has come since takeQuitSignals.
bool quitSignalled();

// Starts the quit deadline (the first call only; a signal calls it too): kQuitGrace later
// the process ends with exit code 0 if it has not ended by itself. Async-signal-safe.
void startQuitDeadline();

// Ends the event loop for good and starts the quit deadline: what Close and the quit signals
// do. Not QCoreApplication::quit(): Qt turns that down while a window of its own is still
// visible once another has refused to close (the main window refuses, it only hides; the
// XEmbed tray's icon is a window too), and the program would then wait for the deadline.
void endEventLoop();

// Reads the signals' pipe on the event loop's thread and runs `quit`, once, for the first
// signal; one that came before it existed is taken at the loop's first turn.
class QuitSignals : public QObject {
    Q_OBJECT
  public:
    explicit QuitSignals(std::function<void()> quit, QObject* parent = nullptr);
    ~QuitSignals() override;

    // Whether the pipe is watched (takeQuitSignals made it).
    bool installed() const { return notifier_ != nullptr; }

  private:
    void onReadable();

    std::function<void()> quit_;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool quitting_ = false;
};

}  // namespace koravex
