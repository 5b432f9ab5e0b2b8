#pragma once
// SIGTERM, SIGINT and SIGHUP end the program the way the tray menu's Close does: the tray
// icon is removed, the event loop ends, everything is closed, and the exit code is 0.
// The handler only writes a byte to a pipe; the event loop reads it and quits.
#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace koravex {

// Holds SIGTERM, SIGINT and SIGHUP back until a QuitSignals takes them: one that comes while
// the program starts (while the drive list is filled) then ends it cleanly as well. Call
// first in main, before any thread is started (threads inherit what is held).
void holdQuitSignals();

class QuitSignals : public QObject {
    Q_OBJECT
  public:
    // Installs the handlers (one QuitSignals at a time) and lets held signals through;
    // `quit` runs on the event loop's thread, once, for the first of the signals.
    explicit QuitSignals(std::function<void()> quit, QObject* parent = nullptr);
    ~QuitSignals() override;  // the default actions again

    // Whether the handlers are in place.
    bool installed() const { return notifier_ != nullptr; }

  private:
    void onReadable();

    std::function<void()> quit_;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool quitting_ = false;
};

}  // namespace koravex
