#include "core/linux/mountinfo_parse.h"

namespace koravex {
namespace {

std::optional<unsigned> parseUnsigned(std::string_view s) {
    if (s.empty() || s.size() > 10) {
        return std::nullopt;
    }
    unsigned long long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v > 0xFFFFFFFFull) {
        return std::nullopt;
    }
    return static_cast<unsigned>(v);
}

bool isOctal(char c) {
    return c >= '0' && c <= '7';
}

std::vector<std::string_view> splitBlanks(std::string_view line) {
    std::vector<std::string_view> fields;
    while (!line.empty()) {
        std::size_t sp = line.find(' ');
        std::string_view f = line.substr(0, sp);
        if (!f.empty()) {
            fields.push_back(f);
        }
        if (sp == std::string_view::npos) {
            break;
        }
        line.remove_prefix(sp + 1);
    }
    return fields;
}

std::optional<MountEntry> parseLine(std::string_view line) {
    // id parent major:minor root mount-point options [optional...] - type source super-options
    auto fields = splitBlanks(line);
    std::size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-") {
        ++dash;
    }
    if (dash >= fields.size() || fields.size() < dash + 3) {
        return std::nullopt;
    }
    MountEntry e;
    auto id = parseUnsigned(fields[0]);
    auto parent = parseUnsigned(fields[1]);
    std::string_view dev = fields[2];
    std::size_t colon = dev.find(':');
    if (!id || !parent || colon == std::string_view::npos) {
        return std::nullopt;
    }
    auto major = parseUnsigned(dev.substr(0, colon));
    auto minor = parseUnsigned(dev.substr(colon + 1));
    auto point = decodeMountEscapes(fields[4]);
    auto source = decodeMountEscapes(fields[dash + 2]);
    if (!major || !minor || !point || !source || point->empty() || point->front() != '/') {
        return std::nullopt;
    }
    e.mountId = *id;
    e.major = *major;
    e.minor = *minor;
    e.mountPoint = std::move(*point);
    e.fsType = std::string(fields[dash + 1]);
    e.source = std::move(*source);
    return e;
}

}  // namespace

std::optional<std::string> decodeMountEscapes(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        char c = field[i];
        if (c == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) && isOctal(field[i + 2]) &&
            isOctal(field[i + 3])) {
            int v = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            if (v == 0 || v > 255) {
                return std::nullopt;
            }
            out.push_back(static_cast<char>(static_cast<unsigned char>(v)));
            i += 3;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::optional<std::vector<MountEntry>> parseMountinfo(std::string_view text) {
    std::vector<MountEntry> table;
    while (!text.empty()) {
        std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (line.empty()) {
            continue;
        }
        auto e = parseLine(line);
        if (!e) {
            return std::nullopt;
        }
        table.push_back(std::move(*e));
    }
    return table;
}

}  // namespace koravex
