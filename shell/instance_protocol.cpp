#include "shell/instance_protocol.h"

#include <charconv>

namespace koravex {

namespace {

constexpr std::string_view kGreetingWord = "instance";
constexpr char kHexDigits[] = "0123456789ABCDEF";

bool needsEncoding(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x21 || u > 0x7E || c == '%';
}

}  // namespace

std::string encodeField(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    for (const char c : raw) {
        if (needsEncoding(c)) {
            const auto u = static_cast<unsigned char>(c);
            out += '%';
            out += kHexDigits[u >> 4];
            out += kHexDigits[u & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> decodeField(std::string_view encoded) {
    std::string out;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != '%') {
            if (needsEncoding(encoded[i])) {
                return std::nullopt;
            }
            out += encoded[i];
            continue;
        }
        unsigned value = 0;
        const char* digits = encoded.data() + i + 1;
        if (i + 2 >= encoded.size() ||
            std::from_chars(digits, digits + 2, value, 16).ptr != digits + 2) {
            return std::nullopt;
        }
        out += static_cast<char>(value);
        i += 2;
    }
    return out;
}

std::string formatGreeting(const InstanceGreeting& greeting) {
    std::string line(kGreetingWord);
    line += ' ';
    line += encodeField(greeting.windowClass);
    line += greeting.visible ? " 1 " : " 0 ";
    line += encodeField(greeting.executablePath);
    line += '\n';
    return line;
}

std::optional<InstanceGreeting> parseGreeting(std::string_view line) {
    // Exactly four fields between single spaces; an empty field is an empty value.
    std::string_view fields[4];
    std::size_t count = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t space = line.find(' ', start);
        if (count == 4) {
            return std::nullopt;
        }
        fields[count++] =
            line.substr(start, space == std::string_view::npos ? space : space - start);
        if (space == std::string_view::npos) {
            break;
        }
        start = space + 1;
    }
    if (count != 4 || fields[0] != kGreetingWord || (fields[2] != "0" && fields[2] != "1")) {
        return std::nullopt;
    }
    std::optional<std::string> windowClass = decodeField(fields[1]);
    std::optional<std::string> path = decodeField(fields[3]);
    if (!windowClass || !path) {
        return std::nullopt;
    }
    return InstanceGreeting{std::move(*windowClass), fields[2] == "1", std::move(*path)};
}

std::string formatCommand(InstanceCommand command) {
    return command == InstanceCommand::Activate ? "activate\n" : "raise\n";
}

std::optional<InstanceCommand> parseCommand(std::string_view line) {
    if (line == "activate") {
        return InstanceCommand::Activate;
    }
    if (line == "raise") {
        return InstanceCommand::Raise;
    }
    return std::nullopt;
}

std::vector<InstanceCommand> handOverCommands(const InstanceGreeting& found,
                                              const InstanceIdentity& own) {
    if (found.windowClass != own.windowClass || found.executablePath != own.executablePath) {
        return {};
    }
    if (found.visible) {
        return {InstanceCommand::Raise};
    }
    return {InstanceCommand::Activate, InstanceCommand::Raise};
}

}  // namespace koravex
