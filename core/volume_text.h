#pragma once
// Small texts made from volume and interface records.
#include <cstdint>
#include <string>
#include <string_view>

namespace koravex {

// The serial number in upper-case hexadecimal without prefix or leading zeros ("0" for 0).
std::string serialHex(std::uint32_t serial);

// The text up to its first NUL (texts read from the system may carry one).
std::string_view cutAtNul(std::string_view text);

}  // namespace koravex
