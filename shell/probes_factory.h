#pragma once
// The probe backend the program runs on.
#include <memory>

#include "core/probes.h"

namespace koravex {

std::unique_ptr<Probes> makeProbes();

}  // namespace koravex
