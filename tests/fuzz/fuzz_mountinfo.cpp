// libFuzzer target: the mount table and the choice of drives from it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/linux/drive_table.h"
#include "core/linux/mountinfo_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)koravex::decodeMountEscapes(text);
    auto table = koravex::parseMountinfo(text);
    if (table) {
        auto drives = koravex::selectDrives(table->entries(), {{"sr0", 11, 0}});
        for (const auto& d : drives) {
            if (d.key.empty() || (d.mounted && d.mountPoints.empty())) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
