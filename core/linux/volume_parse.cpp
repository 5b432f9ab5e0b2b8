#include "core/linux/volume_parse.h"

#include "core/convert.h"

namespace koravex {
namespace {

bool allHex(std::string_view s) {
    for (char c : s) {
        if (hexDigit(c) < 0) {
            return false;
        }
    }
    return !s.empty();
}

std::uint32_t hex32(std::string_view eightDigits) {
    std::uint32_t v = 0;
    for (char c : eightDigits) {
        v = (v << 4) | static_cast<std::uint32_t>(hexDigit(c));
    }
    return v;
}

}  // namespace

std::string decodeHexEscapes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
            hexDigit(text[i + 2]) >= 0 && hexDigit(text[i + 3]) >= 0) {
            out.push_back(static_cast<char>(hexDigit(text[i + 2]) * 16 + hexDigit(text[i + 3])));
            i += 3;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

std::string volumeNameText(std::string_view label) {
    std::size_t nul = label.find('\0');
    if (nul != std::string_view::npos) {
        label = label.substr(0, nul);
    }
    if (label.size() > 255) {
        std::size_t cut = 255;
        // Step back over continuation bytes so that no character is split.
        while (cut > 0 && (static_cast<unsigned char>(label[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        label = label.substr(0, cut);
    }
    return std::string(label);
}

UdevVolume parseUdevData(std::string_view text) {
    UdevVolume v;
    std::optional<std::string> plainLabel;
    while (!text.empty()) {
        std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        constexpr std::string_view kEnc = "E:ID_FS_LABEL_ENC=";
        constexpr std::string_view kPlain = "E:ID_FS_LABEL=";
        constexpr std::string_view kUuid = "E:ID_FS_UUID=";
        if (line.starts_with(kEnc)) {
            v.label = decodeHexEscapes(line.substr(kEnc.size()));
        } else if (line.starts_with(kPlain)) {
            plainLabel = std::string(line.substr(kPlain.size()));
        } else if (line.starts_with(kUuid)) {
            v.uuid = std::string(line.substr(kUuid.size()));
        }
    }
    if (!v.label) {
        v.label = std::move(plainLabel);
    }
    return v;
}

std::optional<std::uint32_t> serialFromUuid(std::string_view uuid) {
    // FAT: XXXX-XXXX.
    if (uuid.size() == 9 && uuid[4] == '-' && allHex(uuid.substr(0, 4)) &&
        allHex(uuid.substr(5, 4))) {
        return (hex32(uuid.substr(0, 4)) << 16) | hex32(uuid.substr(5, 4));
    }
    // NTFS: sixteen hex digits, no dashes.
    if (uuid.size() == 16 && allHex(uuid)) {
        return hex32(uuid.substr(8, 8));
    }
    // Anything else: hex digits with dashes between them (RFC 4122 UUIDs, ISO 9660 dates);
    // the first eight digits make the serial.
    std::string digits;
    for (char c : uuid) {
        if (c == '-') {
            continue;
        }
        if (hexDigit(c) < 0) {
            return std::nullopt;
        }
        digits.push_back(c);
    }
    if (digits.size() < 8) {
        return std::nullopt;
    }
    return hex32(std::string_view(digits).substr(0, 8));
}

}  // namespace koravex
