// libFuzzer target: what a running instance and a second start read from each other (the
// greeting and the command lines, and the field encoding).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "shell/instance_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find('\n', start)) != std::string_view::npos;
         start = end + 1) {
        const std::string_view line = bytes.substr(start, end - start);
        (void)koravex::parseCommand(line);
        if (const auto greeting = koravex::parseGreeting(line)) {
            // Whatever was accepted travels unchanged.
            std::string again = koravex::formatGreeting(*greeting);
            again.pop_back();
            if (koravex::parseGreeting(again) != greeting) {
                __builtin_trap();
            }
        }
    }
    if (const auto field = koravex::decodeField(bytes)) {
        if (koravex::decodeField(koravex::encodeField(*field)) != field) {
            __builtin_trap();
        }
    }
    return 0;
}
