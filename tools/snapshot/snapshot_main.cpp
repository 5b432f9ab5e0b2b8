// koravex-snapshot: one refresh of the monitor, printed for scripts and status bars.
#include <iostream>
#include <string_view>
#include <vector>

#include "tools/snapshot/snapshot_run.h"
#include "tools/snapshot/system_probes.h"

int main(int argc, char** argv) {
    koravex::prepareSystemProbes();
    const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return koravex::runSnapshot("koravex-snapshot", args, koravex::makeSystemProbes, std::cout,
                                std::cerr);
}
