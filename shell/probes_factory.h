#pragma once
// The probe backend the program runs on.
#include <memory>

#include "core/probes.h"

namespace koravex {

// Starts what the probes need outside the program (the drive helpers' launcher). Call first
// in main, while the process has one thread; makeProbes() does it otherwise.
void prepareProbes();

std::unique_ptr<Probes> makeProbes();

}  // namespace koravex
