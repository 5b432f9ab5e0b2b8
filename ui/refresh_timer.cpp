#include "ui/refresh_timer.h"

#include <algorithm>
#include <climits>

namespace koravex {

RefreshTimer::RefreshTimer(QObject* parent) : QTimer(parent) {
    setSingleShot(true);
    connect(this, &QTimer::timeout, this, &RefreshTimer::waitElapsed);
}

int RefreshTimer::nextWait(std::uint64_t remaining) {
    return static_cast<int>(std::min<std::uint64_t>(remaining, INT_MAX));
}

void RefreshTimer::setIntervalMs(std::uint32_t ms) {
    intervalMs_ = ms;
    if (enabled_)
        restart();
}

void RefreshTimer::setEnabled(bool on) {
    if (on == enabled_)
        return;
    enabled_ = on;
    if (on) {
        restart();
    } else {
        stop();
        pending_ = 0;
        armed_ = 0;
    }
}

void RefreshTimer::restart() {
    stop();
    pending_ = intervalMs_;
    armed_ = 0;
    if (intervalMs_ == 0)
        return;  // no timer at all
    ++starts_;
    armNext();
}

void RefreshTimer::armNext() {
    armed_ = nextWait(pending_);
    pending_ -= static_cast<std::uint64_t>(armed_);
    start(armed_);
}

void RefreshTimer::waitElapsed() {
    stop();
    if (!enabled_ || armed_ == 0)
        return;
    if (pending_ > 0) {
        armNext();
        return;
    }
    armed_ = 0;
    emit fired();
    // A periodic timer: the next countdown starts unless the handler started one itself.
    if (enabled_ && armed_ == 0)
        restart();
}

}  // namespace koravex
