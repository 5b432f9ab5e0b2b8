// koravex: the tray resource monitor. It reads no command line.
#include "shell/probes_factory.h"
#include "shell/quit_signals.h"
#include "shell/run.h"

int main() {
    // First of all, while the process has one thread and has opened nothing.
    koravex::holdQuitSignals();
    koravex::prepareProbes();
    return koravex::runKoravex();
}
