#pragma once
// The display model as one JSON object keyed by control name.
#include <string>
#include <string_view>

#include "core/display_model.h"

namespace koravex {

// A JSON string literal, quotes included. Control characters are escaped; bytes that are not
// part of well-formed UTF-8 become U+FFFD, so the output is always valid UTF-8 JSON.
std::string jsonString(std::string_view text);

std::string modelToJson(const DisplayModel& model);

}  // namespace koravex
