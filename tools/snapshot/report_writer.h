#pragma once
// The display model as a readable report in the window's own texts.
#include <string>
#include <string_view>

#include "core/display_model.h"

namespace koravex {

std::string modelToReport(const DisplayModel& model);

// A text read from the system made safe for a terminal: C0 controls (the line break too),
// DEL and C1 controls become escapes ("\x1b", "\u009b"), bytes that are not well-formed
// UTF-8 become U+FFFD; everything else, the backslash included, stays as it is.
std::string reportText(std::string_view text);

}  // namespace koravex
