#include "tools/snapshot/system_probes.h"

#ifdef _WIN32
#include "core/windows/windows_probes.h"
#else
#include "core/linux/drive_helper.h"
#include "core/linux/linux_probes.h"
#endif

namespace koravex {

#ifdef _WIN32
void prepareSystemProbes() {}

std::unique_ptr<Probes> makeSystemProbes() {
    return makeWindowsProbes();
}
#else
void prepareSystemProbes() {
    processDriveHelpers();
}

std::unique_ptr<Probes> makeSystemProbes() {
    return makeLinuxProbes();
}
#endif

}  // namespace koravex
