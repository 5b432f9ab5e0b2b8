#pragma once
// The probe backend of Windows: the kernel, volume, network-provider and IP helper calls.
#include <memory>

#include "core/probes.h"

namespace koravex {
namespace win {
class WinCalls;
}

// Over the real calls.
std::unique_ptr<Probes> makeWindowsProbes();
// Over the given calls (tests); `calls` must outlive the backend.
std::unique_ptr<Probes> makeWindowsProbes(win::WinCalls& calls);

}  // namespace koravex
