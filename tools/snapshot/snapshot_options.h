#pragma once
// The command line of koravex-snapshot.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/units.h"

namespace koravex {

struct SnapshotOptions {
    bool help = false;
    bool json = false;
    UnitScale unit = UnitScale::Kilobytes;  // the track bar's start position
    std::optional<char> drive;              // default: the current directory's drive
    // Watch every drive with the alert switched on and this threshold text, as typed.
    std::optional<std::string> threshold;
};

struct ParsedOptions {
    std::optional<SnapshotOptions> options;  // nullopt: bad command line
    std::string error;                       // what was wrong with it
};

// The arguments after the program name. Options may be given as "--unit kb" or "--unit=kb".
ParsedOptions parseSnapshotOptions(const std::vector<std::string_view>& args);

std::string snapshotUsage(std::string_view program);

}  // namespace koravex
