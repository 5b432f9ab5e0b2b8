#include "core/volume_text.h"

namespace koravex {

std::string serialHex(std::uint32_t serial) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    do {
        out.insert(out.begin(), kDigits[serial & 0xFu]);
        serial >>= 4;
    } while (serial != 0);
    return out;
}

std::string_view cutAtNul(std::string_view text) {
    const std::size_t nul = text.find('\0');
    return nul == std::string_view::npos ? text : text.substr(0, nul);
}

}  // namespace koravex
