#pragma once
// Pure functions over rtnetlink bytes: the link and statistics records the interface table is
// built from, and the mapping of Linux link facts to the interface table's numbers.
// Nothing here trusts its input: every length and offset is checked before it is used, a
// malformed message is skipped or ends the datagram with a failure, never read out of bounds.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace koravex::linux_net {

using Bytes = std::span<const unsigned char>;

// Link details of one interface, from RTM_NEWLINK (a dump reply or a link event) or, with
// `deleted` set, from RTM_DELLINK.
struct LinkRecord {
    std::uint32_t index = 0;
    std::uint16_t arphrd = 0;    // ARPHRD_* hardware type
    std::uint32_t flags = 0;     // IFF_* flags
    std::uint8_t operState = 0;  // IF_OPER_*; IF_OPER_UNKNOWN when the attribute is absent
    std::string name;
    bool named = false;  // IFLA_IFNAME was there (wireless-extension events carry no name)
    bool deleted = false;
};

// Byte counters of one interface, from RTM_NEWSTATS with IFLA_STATS_LINK_64.
struct StatsRecord {
    std::uint32_t index = 0;
    std::uint64_t rxBytes = 0;
    std::uint64_t txBytes = 0;
};

// What one received datagram says about the dump it belongs to.
enum class DumpState {
    More,         // records taken; the dump goes on in a later datagram
    Done,         // NLMSG_DONE (or an acknowledgement) seen: the dump is complete
    Failed,       // NLMSG_ERROR with an error, a negative NLMSG_DONE, or a malformed header
    Interrupted,  // complete, but the kernel flagged it inconsistent (NLM_F_DUMP_INTR)
};

struct DumpProgress {
    DumpState state = DumpState::More;
    int error = 0;  // positive errno for Failed; EPROTO for malformed framing
};

// Payload parsers: one message's payload (after the netlink header). nullopt when the payload
// is too short for its fixed header, names an impossible interface index or (links) is not a
// generic link record (bridge port records carry family AF_BRIDGE).
std::optional<LinkRecord> parseLinkPayload(Bytes payload, bool deleted);
std::optional<StatsRecord> parseStatsPayload(Bytes payload);

// One datagram of a dump reply. Messages whose sequence number is not `seq` are stale replies
// to an earlier request and are skipped. Records are appended to `out`. A datagram that has
// already seen NLM_F_DUMP_INTR in an earlier datagram of the same dump is told by `interrupted`
// (in/out), so that the final state can say so.
DumpProgress parseLinkDump(Bytes datagram, std::uint32_t seq, std::vector<LinkRecord>& out,
                           bool& interrupted);
DumpProgress parseStatsDump(Bytes datagram, std::uint32_t seq, std::vector<StatsRecord>& out,
                            bool& interrupted);

// One datagram from the link event group: RTM_NEWLINK and RTM_DELLINK records, any sequence
// number. Returns false when the framing is malformed (records before the fault are kept).
bool parseLinkEvents(Bytes datagram, std::vector<LinkRecord>& out);

// IANA interface type: 6 Ethernet, 71 wireless, 24 loopback, 23 PPP, 131 tunnel, 1 other.
std::uint32_t ianaType(std::uint16_t arphrd, bool wireless);

// Operational status 0..5 from the kernel's operational state and the interface flags.
std::uint32_t operStatus(std::uint8_t operState, std::uint32_t flags);

// Link speed in bits per second from the driver's Mb/s; 0 when unknown or not applicable.
std::uint64_t speedBits(std::optional<std::uint32_t> mbps);

}  // namespace koravex::linux_net
