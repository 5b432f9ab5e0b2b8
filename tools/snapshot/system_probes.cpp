#include "tools/snapshot/system_probes.h"

#include <iostream>

#include "core/fake_probes.h"

namespace koravex {

std::unique_ptr<Probes> makeSystemProbes() {
    std::cerr << "(sample data: no system backend yet)\n";
    return std::make_unique<FakeProbes>(FakeProbes::sample());
}

}  // namespace koravex
