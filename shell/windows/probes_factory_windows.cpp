#include "core/windows/windows_probes.h"
#include "shell/probes_factory.h"

namespace koravex {

void prepareProbes() {}

std::unique_ptr<Probes> makeProbes() {
    return makeWindowsProbes();
}

}  // namespace koravex
