#pragma once
// The probe backend koravex-snapshot runs with.
#include <memory>

#include "core/probes.h"

namespace koravex {

// Starts the drive helpers' launcher: first in main, while the process has one thread.
void prepareSystemProbes();

std::unique_ptr<Probes> makeSystemProbes();

}  // namespace koravex
