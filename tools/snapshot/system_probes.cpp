#include "tools/snapshot/system_probes.h"

#include "core/linux/linux_probes.h"

namespace koravex {

std::unique_ptr<Probes> makeSystemProbes() { return makeLinuxProbes(); }

}  // namespace koravex
