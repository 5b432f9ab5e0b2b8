#pragma once
// The display model as one JSON object keyed by control name.
#include <string>
#include <string_view>

#include "core/display_model.h"

namespace koravex {

// A JSON string literal, quotes included. Control characters are escaped; bytes that are not
// part of well-formed UTF-8 become U+FFFD, so the output is always valid UTF-8 JSON.
std::string jsonString(std::string_view text);

// Length of the well-formed UTF-8 sequence that starts at text[i], or 0 when there is none
// (a stray continuation byte, an overlong form, a surrogate, a cut sequence, i past the end).
std::size_t utf8SequenceLength(std::string_view text, std::size_t i);

std::string modelToJson(const DisplayModel& model);

}  // namespace koravex
