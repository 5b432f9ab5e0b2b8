#pragma once
// One instance per user. At start the program takes the instance mutex or hands over to the
// instance that holds it (see instance_start.h); each platform supplies claimInstance(), and
// the running instance's guard answers later starts until the process ends.
#include <QObject>
#include <functional>
#include <memory>

#include "shell/instance_protocol.h"

namespace koravex {

// Held by the running instance for the whole run: the mutex, and what answers a second start.
class InstanceGuard : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;
    // The state a second start compares, and what to do with its commands.
    std::function<InstanceGreeting()> greeting;
    std::function<void(InstanceCommand)> onCommand;
};

struct InstanceClaim {
    bool runHere = false;                  // false: another instance runs, end now
    std::unique_ptr<InstanceGuard> guard;  // null when the program runs unguarded
};

// Takes the mutex or hands over to its holder. What made the program run unguarded, or kept
// it from the usual place, is written to stderr, one line each.
InstanceClaim claimInstance(const InstanceIdentity& own);

}  // namespace koravex
