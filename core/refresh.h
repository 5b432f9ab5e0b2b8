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

struct RefreshInputs {
    UnitScale unit = UnitScale::Kilobytes;
    char driveLetter = 'C';  // as the drive selector holds it; '\0' gives an empty root
    std::vector<WatchedDrive> drives;
    bool alertOn = false;
    std::string threshold = "100";  // megabytes, as typed
    // What the refresh reads. The figures (memory, the selected drive, the interface table)
    // are only worth reading while someone can see them; the watch of the ticked drives runs
    // whether the window is shown or not. A part left out stays empty in the model (and
    // `traffic` nullopt, so the table keeps its rows).
    bool figures = true;
    bool watch = true;
};

DisplayModel runRefresh(Probes& probes, const RefreshInputs& inputs);

}  // namespace koravex
