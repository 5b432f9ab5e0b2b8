#pragma once
// koravex-snapshot as a function: arguments in, texts and exit status out.
#include <functional>
#include <memory>
#include <ostream>
#include <string_view>
#include <vector>

#include "core/probes.h"

namespace koravex {

// The probes are made only when a refresh is to run (not for --help or a bad command line).
// Returns 0 when done, 1 when the refresh met a conversion error, 2 for a bad command line.
int runSnapshot(std::string_view program, const std::vector<std::string_view>& args,
                const std::function<std::unique_ptr<Probes>()>& makeProbes, std::ostream& out,
                std::ostream& err);

}  // namespace koravex
