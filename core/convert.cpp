#include "core/convert.h"

#include <limits>

namespace koravex {

namespace {

// Built by appending: GCC 12 at -O3 reports a false -Wrestrict for "'" + std::string(...).
std::string conversionMessage(std::string_view text) {
    std::string message;
    message.reserve(text.size() + 32);
    message += '\'';
    message += text;
    message += "' is not a valid integer value";
    return message;
}

}  // namespace

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

ConversionError::ConversionError(std::string_view text)
    : std::runtime_error(conversionMessage(text)) {}

std::int32_t strToInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= text.size())
        throw ConversionError(text);

    if (hex) {
        std::uint32_t value = 0;
        std::size_t count = 0;
        for (; i < text.size(); ++i, ++count) {
            const int d = hexDigit(text[i]);
            if (d < 0 || count == 8)
                throw ConversionError(text);
            value = (value << 4) | static_cast<std::uint32_t>(d);
        }
        if (negative)
            value = 0u - value;
        return static_cast<std::int32_t>(value);  // above 7FFFFFFF wraps to negative
    }

    std::int64_t value = 0;
    const std::int64_t limit = negative ? std::int64_t{1} << 31 : (std::int64_t{1} << 31) - 1;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            throw ConversionError(text);
        value = value * 10 + (c - '0');
        if (value > limit)
            throw ConversionError(text);
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

std::string messageBoxText(std::string_view message) {
    std::string out(message);
    if (!out.empty() && static_cast<unsigned char>(out.back()) > static_cast<unsigned char>('.'))
        out.push_back('.');
    return out;
}

std::string applicationTitle(std::string_view executablePath) {
    const std::size_t slash = executablePath.find_last_of('/');
    std::string_view name =
        slash == std::string_view::npos ? executablePath : executablePath.substr(slash + 1);
    const std::size_t dot = name.find('.');
    if (dot != std::string_view::npos)
        name = name.substr(0, dot);
    std::string out(name);
    for (std::size_t k = 1; k < out.size(); ++k)
        if (out[k] >= 'A' && out[k] <= 'Z')
            out[k] = static_cast<char>(out[k] - 'A' + 'a');
    return out;
}

}  // namespace koravex
