#pragma once
// The display model as a readable report in the window's own texts.
#include <string>

#include "core/display_model.h"

namespace koravex {

std::string modelToReport(const DisplayModel& model);

}  // namespace koravex
