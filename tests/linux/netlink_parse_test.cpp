// The rtnetlink parsers and the mapping of link facts to table numbers.
#include "core/linux/netlink_parse.h"

#include <gtest/gtest.h>
#include <linux/if.h>
#include <linux/if_arp.h>
#include <sys/socket.h>

#include <cerrno>
#include <climits>

#include "tests/linux/netlink_builder.h"

namespace koravex::linux_net {
namespace {

using testing::NetlinkBuilder;

constexpr std::uint32_t kSeq = 7;
constexpr std::uint32_t kUpRunning = IFF_UP | IFF_RUNNING;

TEST(OperStatus, FromOperStateAndFlags) {
    struct Case {
        const char* what;
        std::uint8_t state;
        std::uint32_t flags;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {"up", IF_OPER_UP, kUpRunning, 5},
        {"unknown and running, like lo", IF_OPER_UNKNOWN, kUpRunning, 5},
        {"unknown, admin up, not running", IF_OPER_UNKNOWN, IFF_UP, 2},
        {"dormant", IF_OPER_DORMANT, IFF_UP, 3},
        {"no carrier", IF_OPER_DOWN, IFF_UP, 2},
        {"lower layer down", IF_OPER_LOWERLAYERDOWN, IFF_UP, 2},
        {"testing", IF_OPER_TESTING, IFF_UP, 2},
        {"admin down", IF_OPER_DOWN, 0, 0},
        {"admin down beats a stale up", IF_OPER_UP, IFF_RUNNING, 0},
        {"not present", IF_OPER_NOTPRESENT, kUpRunning, 0},
        {"state from a newer kernel, running", 200, kUpRunning, 5},
        {"state from a newer kernel, not running", 200, IFF_UP, 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(operStatus(c.state, c.flags), c.expected) << c.what;
    }
}

TEST(IanaType, FromHardwareType) {
    struct Case {
        std::uint16_t arphrd;
        bool wireless;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {ARPHRD_ETHER, false, 6},
        {ARPHRD_ETHER, true, 71},
        {ARPHRD_IEEE80211_RADIOTAP, false, 71},
        {ARPHRD_LOOPBACK, false, 24},
        {ARPHRD_PPP, false, 23},
        {ARPHRD_TUNNEL, false, 131},
        {ARPHRD_TUNNEL6, false, 131},
        {ARPHRD_SIT, false, 131},
        {ARPHRD_IPGRE, false, 131},
        {ARPHRD_IP6GRE, false, 131},
        {ARPHRD_NONE, false, 131},
        {ARPHRD_INFINIBAND, false, 1},
        {ARPHRD_CAN, false, 1},
        {ARPHRD_LOOPBACK, true, 24},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ianaType(c.arphrd, c.wireless), c.expected) << c.arphrd << " " << c.wireless;
    }
}

TEST(SpeedBits, FromMegabits) {
    struct Case {
        std::optional<std::uint32_t> mbps;
        std::uint64_t expected;
    };
    const Case cases[] = {
        {std::nullopt, 0},  // no ethtool support (loopback, ifb)
        {0xFFFFFFFFu, 0},   // unknown, as virtio_net says
        {0xFFFFu, 0},       // unknown in the old 16-bit field
        {0, 0},
        {10, 10'000'000},
        {1000, 1'000'000'000},
        {100000, 100'000'000'000},  // 100 Gb/s does not fit 32 bits
        {0xFFFFFFFEu, 0xFFFFFFFEull * 1'000'000},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(speedBits(c.mbps), c.expected) << (c.mbps ? *c.mbps : -1);
    }
}

std::vector<unsigned char> linkMessage(std::uint32_t seq, std::int32_t index, const char* name,
                                       std::uint8_t state = IF_OPER_UP) {
    return NetlinkBuilder()
        .message(RTM_NEWLINK, seq)
        .link(index, ARPHRD_ETHER, kUpRunning)
        .name(name)
        .operState(state)
        .bytes();
}

std::vector<unsigned char> concat(std::initializer_list<std::vector<unsigned char>> parts) {
    std::vector<unsigned char> out;
    for (const auto& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

struct DumpResult {
    DumpProgress progress;
    std::vector<LinkRecord> links;
    bool interrupted = false;
};

DumpResult parseLinks(const std::vector<unsigned char>& datagram) {
    DumpResult result;
    result.progress = parseLinkDump(datagram, kSeq, result.links, result.interrupted);
    return result;
}

void setLength(std::vector<unsigned char>& bytes, std::size_t at, std::uint32_t length) {
    std::memcpy(bytes.data() + at, &length, sizeof length);
}

TEST(ParseLinkDump, DatagramOutcomes) {
    struct Case {
        const char* what;
        std::vector<unsigned char> datagram;
        DumpState state;
        int error;
        std::vector<std::string> names;
    };
    auto tooLong = linkMessage(kSeq, 3, "eth0");
    setLength(tooLong, 0, static_cast<std::uint32_t>(tooLong.size() + 4));
    auto tooShort = linkMessage(kSeq, 3, "eth0");
    setLength(tooShort, 0, 8);
    const std::vector<Case> cases = {
        {"two links, more to come",
         concat({linkMessage(kSeq, 1, "lo"), linkMessage(kSeq, 2, "eth0")}),
         DumpState::More,
         0,
         {"lo", "eth0"}},
        {"links then done",
         concat({linkMessage(kSeq, 1, "lo"), NetlinkBuilder().done(kSeq).bytes()}),
         DumpState::Done,
         0,
         {"lo"}},
        {"stale reply of another request skipped, its done too",
         concat({linkMessage(kSeq - 1, 1, "old"), NetlinkBuilder().done(kSeq - 1).bytes(),
                 linkMessage(kSeq, 2, "new")}),
         DumpState::More,
         0,
         {"new"}},
        {"error reply", NetlinkBuilder().error(kSeq, -EBUSY).bytes(), DumpState::Failed, EBUSY, {}},
        {"error that is no errno",
         NetlinkBuilder().error(kSeq, INT_MIN).bytes(),
         DumpState::Failed,
         EPROTO,
         {}},
        {"positive error", NetlinkBuilder().error(kSeq, 5).bytes(), DumpState::Failed, EPROTO, {}},
        {"acknowledgement ends it",
         NetlinkBuilder().error(kSeq, 0).bytes(),
         DumpState::Done,
         0,
         {}},
        {"done with an error",
         NetlinkBuilder().done(kSeq, -ENOMEM).bytes(),
         DumpState::Failed,
         ENOMEM,
         {}},
        {"error body cut short",
         NetlinkBuilder().message(NLMSG_ERROR, kSeq).raw("ab", 2).bytes(),
         DumpState::Failed,
         EPROTO,
         {}},
        {"header longer than the datagram", tooLong, DumpState::Failed, EPROTO, {}},
        {"header shorter than itself", tooShort, DumpState::Failed, EPROTO, {}},
        {"trailing bytes too few for a header",
         concat({linkMessage(kSeq, 1, "lo"), {1, 2, 3, 4, 5, 6, 7, 8}}),
         DumpState::Failed,
         EPROTO,
         {"lo"}},
        {"empty datagram", {}, DumpState::More, 0, {}},
        {"overrun",
         NetlinkBuilder().message(NLMSG_OVERRUN, kSeq).bytes(),
         DumpState::Failed,
         EOVERFLOW,
         {}},
        {"other message types ignored",
         concat({NetlinkBuilder().message(RTM_NEWADDR, kSeq).link(1, 1, 0).bytes(),
                 NetlinkBuilder().message(NLMSG_NOOP, kSeq).bytes(), linkMessage(kSeq, 4, "x")}),
         DumpState::More,
         0,
         {"x"}},
        {"payload shorter than the link header skipped",
         concat({NetlinkBuilder().message(RTM_NEWLINK, kSeq).raw("abcd", 4).bytes(),
                 linkMessage(kSeq, 2, "eth0")}),
         DumpState::More,
         0,
         {"eth0"}},
        {"index 0 and negative skipped",
         concat({linkMessage(kSeq, 0, "zero"), linkMessage(kSeq, -3, "neg"),
                 linkMessage(kSeq, 9, "ok")}),
         DumpState::More,
         0,
         {"ok"}},
    };
    for (const Case& c : cases) {
        const auto result = parseLinks(c.datagram);
        EXPECT_EQ(result.progress.state, c.state) << c.what;
        EXPECT_EQ(result.progress.error, c.error) << c.what;
        std::vector<std::string> names;
        for (const auto& link : result.links)
            names.push_back(link.name);
        EXPECT_EQ(names, c.names) << c.what;
    }
}

TEST(ParseLinkDump, InterruptedDumpIsToldAtItsEnd) {
    bool interrupted = false;
    std::vector<LinkRecord> links;
    const auto first = NetlinkBuilder()
                           .message(RTM_NEWLINK, kSeq, NLM_F_MULTI | NLM_F_DUMP_INTR)
                           .link(1, ARPHRD_LOOPBACK, kUpRunning)
                           .name("lo")
                           .bytes();
    EXPECT_EQ(parseLinkDump(first, kSeq, links, interrupted).state, DumpState::More);
    const auto last = NetlinkBuilder().done(kSeq).bytes();
    EXPECT_EQ(parseLinkDump(last, kSeq, links, interrupted).state, DumpState::Interrupted);
    EXPECT_EQ(links.size(), 1u);
}

TEST(ParseLinkPayload, Attributes) {
    const std::string longName(300, 'n');
    struct Case {
        const char* what;
        std::vector<unsigned char> message;
        std::string name;
        bool named;
        std::uint8_t operState;
        std::uint16_t arphrd;
        std::uint32_t flags;
    };
    const std::vector<Case> cases = {
        {"all fields", linkMessage(kSeq, 3, "eth0", IF_OPER_DORMANT), "eth0", true, IF_OPER_DORMANT,
         ARPHRD_ETHER, kUpRunning},
        {"no attributes: name empty, state unknown",
         NetlinkBuilder().message(RTM_NEWLINK, 1).link(3, ARPHRD_PPP, IFF_UP).bytes(), "", false,
         IF_OPER_UNKNOWN, ARPHRD_PPP, IFF_UP},
        {"name without a NUL ends with its attribute",
         NetlinkBuilder()
             .message(RTM_NEWLINK, 1)
             .link(3, 1, 0)
             .attr(IFLA_IFNAME, "wlan0", 5)
             .bytes(),
         "wlan0", true, IF_OPER_UNKNOWN, 1, 0},
        {"name cut at its first NUL",
         NetlinkBuilder()
             .message(RTM_NEWLINK, 1)
             .link(3, 1, 0)
             .attr(IFLA_IFNAME, "ab\0cd", 5)
             .bytes(),
         "ab", true, IF_OPER_UNKNOWN, 1, 0},
        {"overlong name cut to 256",
         NetlinkBuilder().message(RTM_NEWLINK, 1).link(3, 1, 0).name(longName).bytes(),
         longName.substr(0, 256), true, IF_OPER_UNKNOWN, 1, 0},
        {"empty operstate attribute ignored",
         NetlinkBuilder().message(RTM_NEWLINK, 1).link(3, 1, 0).attr(IFLA_OPERSTATE, "", 0).bytes(),
         "", false, IF_OPER_UNKNOWN, 1, 0},
        {"nested flag bit stripped from the type",
         NetlinkBuilder()
             .message(RTM_NEWLINK, 1)
             .link(3, 1, 0)
             .attr(IFLA_IFNAME | NLA_F_NESTED, "x", 2)
             .bytes(),
         "x", true, IF_OPER_UNKNOWN, 1, 0},
    };
    for (const Case& c : cases) {
        const auto payload = std::span(c.message).subspan(sizeof(nlmsghdr));
        const auto link = parseLinkPayload(payload, false);
        ASSERT_TRUE(link) << c.what;
        EXPECT_EQ(link->name, c.name) << c.what;
        EXPECT_EQ(link->named, c.named) << c.what;
        EXPECT_EQ(link->operState, c.operState) << c.what;
        EXPECT_EQ(link->arphrd, c.arphrd) << c.what;
        EXPECT_EQ(link->flags, c.flags) << c.what;
        EXPECT_EQ(link->index, 3u) << c.what;
    }
}

TEST(ParseLinkPayload, BadAttributeLengthKeepsWhatCameBefore) {
    auto message = NetlinkBuilder()
                       .message(RTM_NEWLINK, 1)
                       .link(3, 1, IFF_UP)
                       .name("eth0")
                       .operState(IF_OPER_UP)
                       .bytes();
    // The operstate attribute claims more bytes than the message holds.
    const std::size_t operAttr = message.size() - 8;
    const std::uint16_t bogus = 200;
    std::memcpy(message.data() + operAttr, &bogus, sizeof bogus);
    const auto link = parseLinkPayload(std::span(message).subspan(sizeof(nlmsghdr)), false);
    ASSERT_TRUE(link);
    EXPECT_EQ(link->name, "eth0");
    EXPECT_EQ(link->operState, IF_OPER_UNKNOWN);

    const std::uint16_t tiny = 2;  // shorter than an attribute header
    std::memcpy(message.data() + operAttr, &tiny, sizeof tiny);
    const auto again = parseLinkPayload(std::span(message).subspan(sizeof(nlmsghdr)), false);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->operState, IF_OPER_UNKNOWN);
}

TEST(ParseStatsDump, CountersAndMalformedRecords) {
    constexpr std::uint64_t kBig = 0x1'2345'6789'ABCDull;  // beyond 32 bits
    rtnl_link_stats64 shortStats{};
    struct Case {
        const char* what;
        std::vector<unsigned char> datagram;
        DumpState state;
        std::vector<std::tuple<std::uint32_t, std::uint64_t, std::uint64_t>> expected;
    };
    const std::vector<Case> cases = {
        {"64-bit counters",
         NetlinkBuilder()
             .message(RTM_NEWSTATS, kSeq)
             .statsHeader(2)
             .stats64(kBig, kBig + 1)
             .done(kSeq)
             .bytes(),
         DumpState::Done,
         {{2, kBig, kBig + 1}}},
        {"several in one datagram",
         NetlinkBuilder()
             .message(RTM_NEWSTATS, kSeq)
             .statsHeader(1)
             .stats64(10, 20)
             .message(RTM_NEWSTATS, kSeq)
             .statsHeader(4)
             .stats64(30, 40)
             .bytes(),
         DumpState::More,
         {{1, 10, 20}, {4, 30, 40}}},
        {"record too short for the counters gives zeros",
         NetlinkBuilder()
             .message(RTM_NEWSTATS, kSeq)
             .statsHeader(5)
             .attr(IFLA_STATS_LINK_64, &shortStats, 24)
             .bytes(),
         DumpState::More,
         {{5, 0, 0}}},
        {"no counters at all gives zeros",
         NetlinkBuilder().message(RTM_NEWSTATS, kSeq).statsHeader(6).bytes(),
         DumpState::More,
         {{6, 0, 0}}},
        {"index 0 and beyond int skipped",
         NetlinkBuilder()
             .message(RTM_NEWSTATS, kSeq)
             .statsHeader(0)
             .stats64(1, 1)
             .message(RTM_NEWSTATS, kSeq)
             .statsHeader(0x80000000u)
             .stats64(1, 1)
             .bytes(),
         DumpState::More,
         {}},
        {"header cut short skipped",
         NetlinkBuilder().message(RTM_NEWSTATS, kSeq).raw("12345678", 8).bytes(),
         DumpState::More,
         {}},
        {"link records in a stats dump ignored", linkMessage(kSeq, 1, "lo"), DumpState::More, {}},
    };
    for (const Case& c : cases) {
        std::vector<StatsRecord> out;
        bool interrupted = false;
        EXPECT_EQ(parseStatsDump(c.datagram, kSeq, out, interrupted).state, c.state) << c.what;
        std::vector<std::tuple<std::uint32_t, std::uint64_t, std::uint64_t>> got;
        for (const auto& s : out)
            got.emplace_back(s.index, s.rxBytes, s.txBytes);
        EXPECT_EQ(got, c.expected) << c.what;
    }
}

TEST(ParseLinkEvents, BridgePortNoticesAreNotLinks) {
    auto bridgePort =
        NetlinkBuilder().message(RTM_DELLINK, 0, 0).link(3, 1, IFF_UP).name("eth0").bytes();
    bridgePort[sizeof(nlmsghdr)] = AF_BRIDGE;  // ifi_family
    std::vector<LinkRecord> events;
    ASSERT_TRUE(parseLinkEvents(bridgePort, events));
    EXPECT_TRUE(events.empty());
}

TEST(ParseLinkEvents, NewAndDeletedAnySequence) {
    const auto datagram =
        concat({linkMessage(0, 3, "eth0", IF_OPER_DOWN),
                NetlinkBuilder().message(RTM_DELLINK, 99, 0).link(4, 1, 0).name("old").bytes(),
                NetlinkBuilder().message(RTM_NEWADDR, 1, 0).link(5, 1, 0).bytes()});
    std::vector<LinkRecord> events;
    ASSERT_TRUE(parseLinkEvents(datagram, events));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].index, 3u);
    EXPECT_FALSE(events[0].deleted);
    EXPECT_EQ(events[0].operState, IF_OPER_DOWN);
    EXPECT_EQ(events[1].index, 4u);
    EXPECT_TRUE(events[1].deleted);

    auto broken = datagram;
    setLength(broken, 0, 4);
    events.clear();
    EXPECT_FALSE(parseLinkEvents(broken, events));
}

// Every cut of a valid dump parses without reading past its end (the sanitizer build checks
// the reads) and never claims a complete dump it did not get.
TEST(ParseDumps, EveryTruncationIsSafe) {
    const auto links = concat({linkMessage(kSeq, 1, "lo"), linkMessage(kSeq, 2, "eth0"),
                               NetlinkBuilder().done(kSeq).bytes()});
    const auto stats = NetlinkBuilder()
                           .message(RTM_NEWSTATS, kSeq)
                           .statsHeader(1)
                           .stats64(1, 2)
                           .message(RTM_NEWSTATS, kSeq)
                           .statsHeader(2)
                           .stats64(3, 4)
                           .done(kSeq)
                           .bytes();
    for (std::size_t n = 0; n < links.size(); ++n) {
        std::vector<unsigned char> cut(links.begin(), links.begin() + static_cast<long>(n));
        const auto result = parseLinks(cut);
        EXPECT_NE(result.progress.state, DumpState::Done) << n;
        EXPECT_LE(result.links.size(), 2u);
    }
    for (std::size_t n = 0; n < stats.size(); ++n) {
        std::vector<unsigned char> cut(stats.begin(), stats.begin() + static_cast<long>(n));
        std::vector<StatsRecord> out;
        bool interrupted = false;
        EXPECT_NE(parseStatsDump(cut, kSeq, out, interrupted).state, DumpState::Done) << n;
        std::vector<LinkRecord> events;
        parseLinkEvents(cut, events);
    }
}

}  // namespace
}  // namespace koravex::linux_net
