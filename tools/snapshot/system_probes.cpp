#include "tools/snapshot/system_probes.h"

#include "core/linux/drive_helper.h"
#include "core/linux/linux_probes.h"

namespace koravex {

void prepareSystemProbes() {
    processDriveHelpers();
}

std::unique_ptr<Probes> makeSystemProbes() {
    return makeLinuxProbes();
}

}  // namespace koravex
