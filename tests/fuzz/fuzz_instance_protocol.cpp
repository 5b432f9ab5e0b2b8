// libFuzzer target: what a running instance and a second start read from each other (the
// greeting, the command lines, the line framing).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "shell/instance_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    koravex::LineBuffer lines;
    // Fed in two pieces, as bytes arrive from a socket.
    const std::size_t half = size / 2;
    for (const std::string_view piece : {bytes.substr(0, half), bytes.substr(half)}) {
        for (const std::string& line : lines.feed(piece)) {
            if (line.size() > koravex::kMaxProtocolLine) {
                __builtin_trap();
            }
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
    }
    if (const auto field = koravex::decodeField(bytes)) {
        if (koravex::decodeField(koravex::encodeField(*field)) != field) {
            __builtin_trap();
        }
    }
    return 0;
}
