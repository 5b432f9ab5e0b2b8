#pragma once
// Lower case for UTF-8 text, enough for drive labels: ASCII, Latin-1, Latin Extended-A and
// Cyrillic letters. Any other byte (other scripts, broken sequences) is copied unchanged.
#include <string>
#include <string_view>

namespace koravex {

std::string utf8ToLower(std::string_view text);

// ASCII letter to lower case; any other byte unchanged.
char asciiToLower(char c);

}  // namespace koravex
