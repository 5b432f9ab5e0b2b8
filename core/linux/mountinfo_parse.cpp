#include "core/linux/mountinfo_parse.h"

#include <cstring>

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

// Decodes the escapes of field[0, size) where it lies (the text only ever shrinks): the
// decoded length, or nullopt when an escape would give a NUL.
std::optional<std::size_t> decodeInPlace(char* field, std::size_t size) {
    const char* first = static_cast<const char*>(std::memchr(field, '\\', size));
    if (first == nullptr) {
        return size;  // most fields have no escape at all
    }
    std::size_t out = static_cast<std::size_t>(first - field);
    for (std::size_t i = out; i < size; ++i) {
        char c = field[i];
        if (c == '\\' && i + 3 < size && isOctal(field[i + 1]) && isOctal(field[i + 2]) &&
            isOctal(field[i + 3])) {
            int v = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            if (v == 0 || v > 255) {
                return std::nullopt;
            }
            field[out++] = static_cast<char>(static_cast<unsigned char>(v));
            i += 3;
        } else {
            field[out++] = c;
        }
    }
    return out;
}

// The blank-separated fields of one line, one after another (runs of blanks count as one).
class FieldReader {
  public:
    FieldReader(char* line, std::size_t size) : at_(line), end_(line + size) {}
    // The next field, or false at the end of the line.
    bool next(char*& field, std::size_t& size) {
        while (at_ != end_ && *at_ == ' ') {
            ++at_;
        }
        if (at_ == end_) {
            return false;
        }
        field = at_;
        char* blank =
            static_cast<char*>(std::memchr(at_, ' ', static_cast<std::size_t>(end_ - at_)));
        at_ = blank != nullptr ? blank : end_;
        size = static_cast<std::size_t>(at_ - field);
        return true;
    }

  private:
    char* at_;
    char* end_;
};

bool parseLine(char* line, std::size_t length, MountEntry& e) {
    // id parent major:minor root mount-point options [optional...] - type source super-options
    FieldReader r(line, length);
    char* f[6];
    std::size_t n[6];
    for (int i = 0; i < 6; ++i) {
        if (!r.next(f[i], n[i])) {
            return false;
        }
    }
    char* field = nullptr;
    std::size_t size = 0;
    do {
        if (!r.next(field, size)) {
            return false;  // no separator
        }
    } while (std::string_view(field, size) != "-");
    char* type = nullptr;
    std::size_t typeSize = 0;
    char* source = nullptr;
    std::size_t sourceSize = 0;
    if (!r.next(type, typeSize) || !r.next(source, sourceSize)) {
        return false;
    }
    auto id = parseUnsigned({f[0], n[0]});
    auto parent = parseUnsigned({f[1], n[1]});
    std::string_view dev(f[2], n[2]);
    std::size_t colon = dev.find(':');
    if (!id || !parent || colon == std::string_view::npos) {
        return false;
    }
    auto major = parseUnsigned(dev.substr(0, colon));
    auto minor = parseUnsigned(dev.substr(colon + 1));
    auto point = decodeInPlace(f[4], n[4]);
    auto sourceLength = decodeInPlace(source, sourceSize);
    if (!major || !minor || !point || !sourceLength || *point == 0 || f[4][0] != '/') {
        return false;
    }
    e.mountId = *id;
    e.major = *major;
    e.minor = *minor;
    e.mountPoint = std::string_view(f[4], *point);
    e.fsType = std::string_view(type, typeSize);
    e.source = std::string_view(source, *sourceLength);
    return true;
}

}  // namespace

std::optional<std::string> decodeMountEscapes(std::string_view field) {
    std::string out(field);
    auto length = decodeInPlace(out.data(), out.size());
    if (!length) {
        return std::nullopt;
    }
    out.resize(*length);
    return out;
}

bool parseMountinfoInPlace(char* text, std::size_t size, std::vector<MountEntry>& table) {
    table.clear();
    char* end = text + size;
    for (char* line = text; line != end;) {
        char* nl =
            static_cast<char*>(std::memchr(line, '\n', static_cast<std::size_t>(end - line)));
        char* lineEnd = nl != nullptr ? nl : end;
        if (lineEnd != line) {
            MountEntry e;
            if (!parseLine(line, static_cast<std::size_t>(lineEnd - line), e)) {
                table.clear();
                return false;
            }
            table.push_back(e);
        }
        line = nl != nullptr ? nl + 1 : end;
    }
    return true;
}

std::optional<MountTable> parseMountinfo(std::string_view text) {
    MountTable t;
    t.text_.assign(text.begin(), text.end());
    if (!parseMountinfoInPlace(t.text_.data(), t.text_.size(), t.entries_)) {
        return std::nullopt;
    }
    return t;
}

}  // namespace koravex
