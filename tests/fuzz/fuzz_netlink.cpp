// libFuzzer target for the rtnetlink parsers. The first byte picks the parser (link dump,
// statistics dump, link events); the rest is one datagram. Seeds are real kernel replies.
#include <cstdlib>

#include "core/linux/netlink_parse.h"

using namespace koravex::linux_net;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    if (size == 0)
        return 0;
    const Bytes datagram(data + 1, size - 1);
    bool interrupted = false;
    switch (data[0] % 3) {
        case 0: {
            std::vector<LinkRecord> links;
            const auto progress = parseLinkDump(datagram, 1, links, interrupted);
            for (const auto& link : links) {
                if (link.index == 0 || link.index > 0x7FFFFFFFu || link.name.size() > 256) {
                    std::abort();
                }
            }
            if (progress.state == DumpState::Failed && progress.error <= 0)
                std::abort();
            break;
        }
        case 1: {
            std::vector<StatsRecord> stats;
            const auto progress = parseStatsDump(datagram, 1, stats, interrupted);
            for (const auto& s : stats) {
                if (s.index == 0 || s.index > 0x7FFFFFFFu)
                    std::abort();
            }
            if (progress.state == DumpState::Failed && progress.error <= 0)
                std::abort();
            break;
        }
        default: {
            std::vector<LinkRecord> events;
            parseLinkEvents(datagram, events);
            for (const auto& link : events) {
                if (link.index == 0 || link.name.size() > 256)
                    std::abort();
            }
            break;
        }
    }
    return 0;
}
