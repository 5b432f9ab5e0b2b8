#include "shell/probes_factory.h"

#include "core/linux/drive_helper.h"
#include "core/linux/linux_probes.h"

namespace koravex {

void prepareProbes() {
    processDriveHelpers();
}

std::unique_ptr<Probes> makeProbes() {
    return makeLinuxProbes();
}

}  // namespace koravex
