#pragma once
// UTF-16 from Windows to the UTF-8 the rest of the program holds, and back.
#include <string>
#include <string_view>

namespace koravex::win {

// Unpaired surrogates become U+FFFD; nothing is dropped silently.
std::string toUtf8(std::wstring_view text);
// Invalid UTF-8 becomes U+FFFD.
std::wstring toWide(std::string_view text);
// The text of a fixed buffer up to its first NUL (or the whole buffer when it has none).
std::wstring_view untilNul(const wchar_t* buffer, std::size_t capacity);

}  // namespace koravex::win
