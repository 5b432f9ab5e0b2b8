#include "core/linux/netlink_parse.h"

#include <linux/if.h>
#include <linux/if_arp.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace koravex::linux_net {
namespace {

constexpr std::size_t kMaxNameLength = 256;  // the table's description holds at most this

template <class T>
T load(Bytes bytes, std::size_t offset) {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

std::size_t align4(std::size_t n) {
    return (n + 3) & ~std::size_t{3};
}

// Calls fn(type, payload) for each well-formed attribute in `attrs`; stops at the first
// attribute whose length does not fit (the rest of the message cannot be framed).
template <class Fn>
void forEachAttribute(Bytes attrs, Fn fn) {
    std::size_t off = 0;
    while (attrs.size() - off >= sizeof(rtattr)) {
        const auto len = load<std::uint16_t>(attrs, off);
        const auto type = load<std::uint16_t>(attrs, off + 2);
        if (len < sizeof(rtattr) || len > attrs.size() - off)
            return;
        fn(static_cast<std::uint16_t>(type & NLA_TYPE_MASK),
           attrs.subspan(off + sizeof(rtattr), len - sizeof(rtattr)));
        off += std::min(align4(len), attrs.size() - off);
    }
}

int errnoFrom(std::int32_t kernelError) {
    // The kernel sends -errno; anything else is a protocol fault.
    if (kernelError < 0 && kernelError != INT_MIN)
        return -kernelError;
    return EPROTO;
}

// Walks the messages of one datagram. `seq` empty: every sequence number is taken (events).
// fn(type, payload) is called for each data message.
template <class Fn>
DumpProgress walkMessages(Bytes datagram, std::optional<std::uint32_t> seq, bool& interrupted,
                          Fn fn) {
    std::size_t off = 0;
    while (off < datagram.size()) {
        if (datagram.size() - off < sizeof(nlmsghdr))
            return {DumpState::Failed, EPROTO};
        const auto header = load<nlmsghdr>(datagram, off);
        if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > datagram.size() - off) {
            return {DumpState::Failed, EPROTO};
        }
        const Bytes payload =
            datagram.subspan(off + sizeof(nlmsghdr), header.nlmsg_len - sizeof(nlmsghdr));
        off += std::min(align4(header.nlmsg_len), datagram.size() - off);

        if (seq && header.nlmsg_seq != *seq)
            continue;  // a stale reply to an earlier request
        if (header.nlmsg_flags & NLM_F_DUMP_INTR)
            interrupted = true;

        switch (header.nlmsg_type) {
            case NLMSG_NOOP:
                break;
            case NLMSG_OVERRUN:
                return {DumpState::Failed, EOVERFLOW};
            case NLMSG_DONE:
                if (payload.size() >= sizeof(std::int32_t)) {
                    const auto status = load<std::int32_t>(payload, 0);
                    if (status < 0)
                        return {DumpState::Failed, errnoFrom(status)};
                }
                return {interrupted ? DumpState::Interrupted : DumpState::Done, 0};
            case NLMSG_ERROR: {
                if (payload.size() < sizeof(std::int32_t))
                    return {DumpState::Failed, EPROTO};
                const auto status = load<std::int32_t>(payload, 0);
                if (status == 0)
                    return {interrupted ? DumpState::Interrupted : DumpState::Done, 0};
                return {DumpState::Failed, errnoFrom(status)};
            }
            default:
                fn(header.nlmsg_type, payload);
                break;
        }
    }
    return {DumpState::More, 0};
}

}  // namespace

std::optional<LinkRecord> parseLinkPayload(Bytes payload, bool deleted) {
    if (payload.size() < sizeof(ifinfomsg))
        return std::nullopt;
    const auto info = load<ifinfomsg>(payload, 0);
    // Bridge port notices (AF_BRIDGE) share the link group; their RTM_DELLINK means "left the
    // bridge", not "gone". Only the generic link records describe interfaces.
    if (info.ifi_index <= 0 || info.ifi_family != AF_UNSPEC)
        return std::nullopt;

    LinkRecord link;
    link.index = static_cast<std::uint32_t>(info.ifi_index);
    link.arphrd = info.ifi_type;
    link.flags = info.ifi_flags;
    link.operState = IF_OPER_UNKNOWN;
    link.deleted = deleted;
    forEachAttribute(payload.subspan(NLMSG_ALIGN(sizeof(ifinfomsg))),
                     [&](std::uint16_t type, Bytes value) {
                         if (type == IFLA_IFNAME) {
                             std::size_t n = 0;
                             while (n < value.size() && n < kMaxNameLength && value[n] != 0)
                                 ++n;
                             link.name.assign(reinterpret_cast<const char*>(value.data()), n);
                             link.named = true;
                         } else if (type == IFLA_OPERSTATE && !value.empty()) {
                             link.operState = value[0];
                         }
                     });
    return link;
}

std::optional<StatsRecord> parseStatsPayload(Bytes payload) {
    if (payload.size() < sizeof(if_stats_msg))
        return std::nullopt;
    const auto header = load<if_stats_msg>(payload, 0);
    if (header.ifindex == 0 || header.ifindex > static_cast<std::uint32_t>(INT_MAX)) {
        return std::nullopt;
    }
    StatsRecord stats;
    stats.index = header.ifindex;
    forEachAttribute(payload.subspan(NLMSG_ALIGN(sizeof(if_stats_msg))),
                     [&](std::uint16_t type, Bytes value) {
                         // rx_packets, tx_packets, rx_bytes, tx_bytes lead the record; newer
                         // kernels append fields, so only a minimum size is required.
                         if (type != IFLA_STATS_LINK_64 || value.size() < 4 * 8)
                             return;
                         stats.rxBytes = load<std::uint64_t>(value, 16);
                         stats.txBytes = load<std::uint64_t>(value, 24);
                     });
    return stats;
}

DumpProgress parseLinkDump(Bytes datagram, std::uint32_t seq, std::vector<LinkRecord>& out,
                           bool& interrupted) {
    return walkMessages(datagram, seq, interrupted, [&](std::uint16_t type, Bytes payload) {
        if (type != RTM_NEWLINK)
            return;
        if (auto link = parseLinkPayload(payload, false))
            out.push_back(std::move(*link));
    });
}

DumpProgress parseStatsDump(Bytes datagram, std::uint32_t seq, std::vector<StatsRecord>& out,
                            bool& interrupted) {
    return walkMessages(datagram, seq, interrupted, [&](std::uint16_t type, Bytes payload) {
        if (type != RTM_NEWSTATS)
            return;
        if (auto stats = parseStatsPayload(payload))
            out.push_back(*stats);
    });
}

bool parseLinkEvents(Bytes datagram, std::vector<LinkRecord>& out) {
    bool interrupted = false;
    const auto progress =
        walkMessages(datagram, std::nullopt, interrupted, [&](std::uint16_t type, Bytes payload) {
            if (type != RTM_NEWLINK && type != RTM_DELLINK)
                return;
            if (auto link = parseLinkPayload(payload, type == RTM_DELLINK)) {
                out.push_back(std::move(*link));
            }
        });
    return progress.state != DumpState::Failed;
}

std::uint32_t ianaType(std::uint16_t arphrd, bool wireless) {
    switch (arphrd) {
        case ARPHRD_ETHER:
            return wireless ? 71 : 6;
        case ARPHRD_IEEE80211:
        case ARPHRD_IEEE80211_PRISM:
        case ARPHRD_IEEE80211_RADIOTAP:
            return 71;
        case ARPHRD_LOOPBACK:
            return 24;
        case ARPHRD_PPP:
            return 23;
        case ARPHRD_TUNNEL:
        case ARPHRD_TUNNEL6:
        case ARPHRD_SIT:
        case ARPHRD_IPGRE:
        case ARPHRD_IP6GRE:
        case ARPHRD_NONE:  // tun, wireguard: no link-layer header
            return 131;
        default:
            return 1;
    }
}

std::uint32_t operStatus(std::uint8_t operState, std::uint32_t flags) {
    constexpr std::uint32_t kNonOperational = 0, kDisconnected = 2, kConnecting = 3,
                            kOperational = 5;
    if (!(flags & IFF_UP) || operState == IF_OPER_NOTPRESENT)
        return kNonOperational;
    switch (operState) {
        case IF_OPER_UP:
            return kOperational;
        case IF_OPER_DORMANT:
            return kConnecting;
        case IF_OPER_DOWN:
        case IF_OPER_LOWERLAYERDOWN:
        case IF_OPER_TESTING:  // in a test mode, not passing traffic
            return kDisconnected;
        default:  // IF_OPER_UNKNOWN and values this code does not know: the flags decide
            return (flags & IFF_RUNNING) ? kOperational : kDisconnected;
    }
}

std::uint64_t speedBits(std::optional<std::uint32_t> mbps) {
    // 0xFFFF: older drivers fill only the low 16 bits of an unknown speed.
    if (!mbps || *mbps == 0 || *mbps == 0xFFFFu || *mbps == 0xFFFFFFFFu)
        return 0;
    return std::uint64_t{*mbps} * 1'000'000u;
}

}  // namespace koravex::linux_net
