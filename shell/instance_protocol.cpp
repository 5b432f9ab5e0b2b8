#include "shell/instance_protocol.h"

#include <algorithm>
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
    for (const char c : raw) {
        const auto u = static_cast<unsigned char>(c);
        if (needsEncoding(c)) {
            out += {'%', kHexDigits[u >> 4], kHexDigits[u & 0x0F]};
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> decodeField(std::string_view encoded) {
    std::string out;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        unsigned value = static_cast<unsigned char>(encoded[i]);
        if (encoded[i] == '%') {
            const char* digits = encoded.data() + i + 1;
            if (i + 2 >= encoded.size() ||
                std::from_chars(digits, digits + 2, value, 16).ptr != digits + 2) {
                return std::nullopt;
            }
            i += 2;
        } else if (needsEncoding(encoded[i])) {
            return std::nullopt;
        }
        out += static_cast<char>(value);
    }
    return out;
}

std::string formatGreeting(const InstanceGreeting& greeting) {
    return std::string(kGreetingWord) + ' ' + encodeField(greeting.windowClass) +
           (greeting.visible ? " 1 " : " 0 ") + encodeField(greeting.executablePath) + '\n';
}

std::optional<InstanceGreeting> parseGreeting(std::string_view line) {
    // Exactly four fields between single spaces; an empty field is an empty value.
    if (std::count(line.begin(), line.end(), ' ') != 3) {
        return std::nullopt;
    }
    const std::size_t first = line.find(' ');
    const std::size_t second = line.find(' ', first + 1);
    const std::size_t third = line.find(' ', second + 1);
    const std::string_view visible = line.substr(second + 1, third - second - 1);
    std::optional<std::string> windowClass =
        decodeField(line.substr(first + 1, second - first - 1));
    std::optional<std::string> path = decodeField(line.substr(third + 1));
    if (line.substr(0, first) != kGreetingWord || (visible != "0" && visible != "1") ||
        !windowClass || !path) {
        return std::nullopt;
    }
    return InstanceGreeting{std::move(*windowClass), visible == "1", std::move(*path)};
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

std::string handOverWords(const InstanceGreeting& found, const InstanceIdentity& own) {
    if (found.windowClass != own.windowClass || found.executablePath != own.executablePath) {
        return {};
    }
    return (found.visible ? "" : formatCommand(InstanceCommand::Activate)) +
           formatCommand(InstanceCommand::Raise);
}

bool decideStart(const InstanceStartSteps& steps, std::chrono::milliseconds budget) {
    constexpr std::chrono::milliseconds kRetryPause{10};
    const auto deadline = steps.now() + budget;
    while (!steps.takeMutex()) {
        if (steps.handOver(deadline) != HandOverAttempt::NotReached) {
            return false;
        }
        const auto left = deadline - steps.now();
        if (left <= decltype(left)::zero()) {
            return false;
        }
        steps.pause(std::min(kRetryPause, std::chrono::ceil<std::chrono::milliseconds>(left)));
    }
    return true;
}

}  // namespace koravex
