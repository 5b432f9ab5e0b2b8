// koravex: the tray resource monitor. It reads no command line.
#include "shell/koravex_shell.h"
#include "shell/probes_factory.h"

int main() {
    // First of all, while the process has one thread and has opened nothing.
    koravex::prepareProbes();
    return koravex::runKoravex();
}
