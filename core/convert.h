#pragma once
// Text to number, and the texts of the error box.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace koravex {

// Raised for a text that is not a whole number; what() is "'<text>' is not a valid integer value".
class ConversionError : public std::runtime_error {
  public:
    explicit ConversionError(std::string_view text);
};

// Leading blanks, an optional sign and decimal digits within the signed 32-bit range; or
// up to eight hexadecimal digits after "$", "x", "X", "0x" or "0X" (a sign may stand
// before the prefix), values above 7FFFFFFF wrapping to negative. Anything else throws.
std::int32_t strToInt(std::string_view text);

// One hexadecimal digit's value, either case ('7' -> 7, 'b' and 'B' -> 11); -1 for any other
// character.
int hexDigit(char c);

// The error box's text: a full stop is added when the message is not empty and its last
// character sorts after ".".
std::string messageBoxText(std::string_view message);

// The application title: the executable's file name without its folder, cut at its first
// ".", the first letter unchanged and the others in lower case.
std::string applicationTitle(std::string_view executablePath);

}  // namespace koravex
