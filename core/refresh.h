#pragma once
// One refresh as a computation: probes and settings in, display model out.
#include <string>
#include <vector>

#include "core/display_model.h"
#include "core/probes.h"
#include "core/units.h"

namespace koravex {

// One item of the drive list with its tick mark.
struct WatchedDrive {
    std::string root;  // caption, "X:\"
    bool ticked = false;
};

// The parts of the figures one refresh reads.
struct FigureParts {
    bool memory = true;      // Gauge2..4, Label2..7
    bool drive = true;       // the selected drive: Label8..13, Gauge1
    bool interfaces = true;  // the interface table
    static constexpr FigureParts none() { return {false, false, false}; }
    bool any() const { return memory || drive || interfaces; }
    bool operator==(const FigureParts&) const = default;
};

struct RefreshInputs {
    UnitScale unit = UnitScale::Kilobytes;
    char driveLetter = 'C';  // as the drive selector holds it; '\0' gives an empty root
    std::vector<WatchedDrive> drives;
    bool alertOn = false;
    std::string threshold = "100";  // megabytes, as typed
    // What the refresh reads. Each part of the figures (memory, the selected drive, the
    // interface table) is only worth reading while someone can see it: the window asks for the
    // shown tab's part alone. The watch of the ticked drives runs whether the window is shown
    // or not. A part left out stays empty in the model (and `traffic` nullopt, so the table
    // keeps its rows).
    FigureParts figures;
    bool watch = true;
};

DisplayModel runRefresh(Probes& probes, const RefreshInputs& inputs);

}  // namespace koravex
