#pragma once
// The refresh timer: a single-shot QTimer re-armed after every refresh. Its interval is an
// unsigned 32-bit count of milliseconds; a wait longer than QTimer's signed range is made of
// several shorter waits, so 4294967291 ms really means about 50 days.
#include <QTimer>
#include <cstdint>

namespace koravex {

class RefreshTimer : public QTimer {
    Q_OBJECT
  public:
    explicit RefreshTimer(QObject* parent = nullptr);

    std::uint32_t intervalMs() const { return intervalMs_; }
    // A change of interval starts the countdown afresh while the timer is enabled.
    void setIntervalMs(std::uint32_t ms);

    bool isEnabled() const { return enabled_; }
    // Enabling a disabled timer starts its countdown; an interval of 0 starts none.
    void setEnabled(bool on);

    // What is left of the current countdown before the next wait is armed, in ms.
    std::uint64_t pendingMs() const { return pending_; }
    // Countdowns started so far (each enabling or interval change that armed a wait).
    int countdownStarts() const { return starts_; }

    // The longest single wait handed to QTimer for a remaining time.
    static int nextWait(std::uint64_t remaining);

  signals:
    // One full interval has passed.
    void fired();

  public slots:
    // One armed wait has run out: arm the next part, or report the full interval.
    void waitElapsed();

  private:
    void restart();
    void armNext();

    std::uint32_t intervalMs_ = 0;
    bool enabled_ = false;
    std::uint64_t pending_ = 0;  // still to wait after the armed part
    int armed_ = 0;              // the part now armed
    int starts_ = 0;
};

}  // namespace koravex
