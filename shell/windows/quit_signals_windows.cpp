// Windows ends a program through its windows' messages, not through signals: there is nothing
// to hold back while the program starts.
#include "shell/quit_signals.h"

namespace koravex {

void holdQuitSignals() {}

}  // namespace koravex
