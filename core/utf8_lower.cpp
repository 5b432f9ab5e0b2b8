#include "core/utf8_lower.h"

namespace koravex {

namespace {

// Lower case of a code point from U+0080 to U+07FF (two-byte sequences); others unchanged.
char32_t lowerTwoByte(char32_t c) {
    // Latin-1: À..Þ except the multiplication sign.
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return c + 0x20;
    // Latin Extended-A: upper/lower pairs on even/odd code points, with three runs on odd/even.
    if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177))
        return (c % 2 == 0) ? c + 1 : c;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
        return (c % 2 == 1) ? c + 1 : c;
    if (c == 0x178)
        return 0xFF;  // Ÿ
    // Cyrillic: Ѐ..Џ, А..Я.
    if (c >= 0x400 && c <= 0x40F)
        return c + 0x50;
    if (c >= 0x410 && c <= 0x42F)
        return c + 0x20;
    // Cyrillic pairs (Ѡ.., Ґ.., Ӑ..) on even/odd code points, and Ӂ..Ӎ on odd/even.
    if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F))
        return (c % 2 == 0) ? c + 1 : c;
    if (c >= 0x4C1 && c <= 0x4CE)
        return (c % 2 == 1) ? c + 1 : c;
    if (c == 0x4C0)
        return 0x4CF;  // Ӏ
    return c;
}

bool isContinuation(unsigned char b) {
    return (b & 0xC0u) == 0x80u;
}

}  // namespace

char asciiToLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string utf8ToLower(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b0 = static_cast<unsigned char>(text[i]);
        // A well-formed two-byte sequence (lead C2..DF): every mapping stays in two bytes.
        if (b0 >= 0xC2 && b0 <= 0xDF && i + 1 < text.size() &&
            isContinuation(static_cast<unsigned char>(text[i + 1]))) {
            const auto b1 = static_cast<unsigned char>(text[i + 1]);
            const char32_t lower = lowerTwoByte((char32_t{b0 & 0x1Fu} << 6) | (b1 & 0x3Fu));
            out.push_back(static_cast<char>(0xC0u | (lower >> 6)));
            out.push_back(static_cast<char>(0x80u | (lower & 0x3Fu)));
            ++i;
            continue;
        }
        out.push_back(asciiToLower(text[i]));
    }
    return out;
}

}  // namespace koravex
