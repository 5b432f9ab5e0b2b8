#pragma once
// The probe backend of Windows: the kernel, volume, network-provider and IP helper calls.
#include <memory>

#include "core/drive_answers.h"
#include "core/probes.h"

namespace koravex {
namespace win {
class WinCalls;
}

// Over the real calls. Drive space and volume queries run on worker threads within the
// round's time budget (thread_drive_asker.h); everything else answers on the caller's thread.
std::unique_ptr<Probes> makeWindowsProbes();
// The same over the given calls (tests); `calls` must outlive every worker thread.
std::unique_ptr<Probes> makeWindowsProbes(win::WinCalls& calls, DriveLimits limits = {});
// Every query made at once on the caller's thread, the drive calls too.
std::unique_ptr<Probes> makeDirectWindowsProbes(win::WinCalls& calls);

}  // namespace koravex
