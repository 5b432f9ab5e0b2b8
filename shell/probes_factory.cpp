#include "shell/probes_factory.h"

#if KORAVEX_HAVE_LINUX_PROBES
#include "core/linux/linux_probes.h"
#else
#include "core/fake_probes.h"
#endif

namespace koravex {

std::unique_ptr<Probes> makeProbes() {
#if KORAVEX_HAVE_LINUX_PROBES
    return makeLinuxProbes();
#else
    return std::make_unique<FakeProbes>(FakeProbes::sample());
#endif
}

}  // namespace koravex
