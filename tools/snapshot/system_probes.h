#pragma once
// The probe backend koravex-snapshot runs with.
#include <memory>

#include "core/probes.h"

namespace koravex {

std::unique_ptr<Probes> makeSystemProbes();

}  // namespace koravex
