// libFuzzer target: udev database entries, escaped link names, volume names and serials.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/linux/volume_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    koravex::UdevVolume v = koravex::parseUdevData(text);
    if (v.label && koravex::volumeNameText(*v.label).size() > 255) {
        __builtin_trap();
    }
    if (v.uuid) {
        (void)koravex::serialFromUuid(*v.uuid);
    }
    std::string decoded = koravex::decodeHexEscapes(text);
    if (decoded.size() > text.size()) {
        __builtin_trap();
    }
    (void)koravex::serialFromUuid(text);
    return 0;
}
