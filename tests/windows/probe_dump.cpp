// Prints what the Windows backend reads from the machine, as JSON, for the scripts that
// compare it with the machine's own tools. Usage: probe_dump [ROOT...] (default: every drive)
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "core/windows/win_calls.h"
#include "core/windows/windows_probes.h"

namespace {

std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + '"';
}

std::string number(std::uint64_t value) {
    return std::to_string(value);
}
std::string number(std::int64_t value) {
    return std::to_string(value);
}

}  // namespace

int main(int argc, char** argv) {
    // The calls themselves, made at once: this compares what they read, not how long.
    auto probes = koravex::makeDirectWindowsProbes(koravex::win::systemWinCalls());
    std::vector<std::string> roots(argv + 1, argv + argc);
    if (roots.empty())
        roots = probes->driveRoots();

    const koravex::MemoryStatus m = probes->memoryStatus();
    std::string out = "{\"memory\": {\"totalPhys\": " + number(m.totalPhys) +
                      ", \"availPhys\": " + number(m.availPhys) +
                      ", \"totalPageFile\": " + number(m.totalPageFile) +
                      ", \"availPageFile\": " + number(m.availPageFile) +
                      ", \"totalVirtual\": " + number(m.totalVirtual) +
                      ", \"availVirtual\": " + number(m.availVirtual) + "},\n";
    out += " \"roots\": [";
    const auto all = probes->driveRoots();
    for (std::size_t i = 0; i < all.size(); ++i)
        out += (i ? ", " : "") + quoted(all[i]);
    out += "],\n \"currentDrive\": " + quoted(std::string(1, probes->currentDirectoryDrive())) +
           ",\n \"drives\": [";
    for (std::size_t i = 0; i < roots.size(); ++i) {
        const std::string& root = roots[i];
        out += std::string(i ? ",\n  " : "\n  ") + "{\"root\": " + quoted(root) +
               ", \"type\": " + number(std::uint64_t(probes->driveType(root)));
        if (const auto space = probes->driveSpace(root))
            out += ", \"space\": {\"freeToCaller\": " + number(space->freeToCaller) +
                   ", \"total\": " + number(space->total) +
                   ", \"totalFree\": " + number(space->totalFree) + "}";
        else
            out += ", \"space\": null";
        if (const auto volume = probes->volumeInformation(root))
            out += ", \"volume\": {\"name\": " + quoted(volume->name) +
                   ", \"serial\": " + number(std::uint64_t{volume->serial}) +
                   ", \"fileSystem\": " + quoted(volume->fileSystem) + "}";
        else
            out += ", \"volume\": null";
        const auto remote = probes->remoteName(root);
        out += ", \"remote\": " + (remote ? quoted(*remote) : std::string("null")) + "}";
    }
    out += "],\n \"interfaces\": ";
    if (const auto rows = probes->interfaceTable()) {
        out += "[";
        for (std::size_t i = 0; i < rows->size(); ++i) {
            const koravex::InterfaceRow& r = (*rows)[i];
            out += std::string(i ? ",\n  " : "\n  ") +
                   "{\"index\": " + number(std::uint64_t{r.index}) +
                   ", \"description\": " + quoted(r.description) +
                   ", \"type\": " + number(std::uint64_t{r.type}) +
                   ", \"speed\": " + number(r.speed) +
                   ", \"operStatus\": " + number(std::uint64_t{r.operStatus}) +
                   ", \"inOctets\": " + number(r.inOctets) +
                   ", \"outOctets\": " + number(r.outOctets) + "}";
        }
        out += "]";
    } else {
        out += "null";
    }
    out += "}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
