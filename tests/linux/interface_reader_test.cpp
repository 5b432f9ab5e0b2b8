// The interface reader over a fake kernel: rows, what each refresh asks, events, faults.
#include "core/linux/interface_reader.h"

#include <gtest/gtest.h>

#include "tests/linux/fake_net_sys_calls.h"

namespace koravex {
namespace {

using testing::FakeLink;
using testing::FakeNetSysCalls;

class InterfaceReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto owned = std::make_unique<FakeNetSysCalls>();
        fake = owned.get();
        // Listed out of ifindex order on purpose.
        fake->links = {
            {4, "wlan0", ARPHRD_ETHER, IFF_UP, IF_OPER_DORMANT, 5, 6, 54, true},
            {1, "lo", ARPHRD_LOOPBACK, IFF_UP | IFF_RUNNING | IFF_LOOPBACK, IF_OPER_UNKNOWN, 100,
             100, std::nullopt, false},
            {2, "eth0", ARPHRD_ETHER, IFF_UP | IFF_RUNNING, IF_OPER_UP, 0x1'0000'0010ull,
             0x2'0000'0020ull, 1000, false},
        };
        reader = std::make_unique<InterfaceReader>(std::move(owned));
    }

    std::vector<InterfaceRow> readRows() {
        auto rows = reader->read();
        EXPECT_TRUE(rows.has_value());
        return rows.value_or(std::vector<InterfaceRow>{});
    }

    static std::vector<std::uint32_t> indexes(const std::vector<InterfaceRow>& rows) {
        std::vector<std::uint32_t> out;
        for (const auto& row : rows)
            out.push_back(row.index);
        return out;
    }

    FakeNetSysCalls* fake = nullptr;
    std::unique_ptr<InterfaceReader> reader;
};

TEST_F(InterfaceReaderTest, RowsInIndexOrderWithEveryField) {
    const auto rows = readRows();
    ASSERT_EQ(rows.size(), 3u);
    struct Expected {
        std::uint32_t index;
        const char* name;
        std::uint32_t type;
        std::uint64_t speed;
        std::uint32_t status;
        std::uint64_t in, out;
    };
    const Expected expected[] = {
        {1, "lo", 24, 0, 5, 100, 100},
        {2, "eth0", 6, 1'000'000'000, 5, 0x1'0000'0010ull, 0x2'0000'0020ull},
        {4, "wlan0", 71, 54'000'000, 3, 5, 6},
    };
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(rows[i].index, expected[i].index) << i;
        EXPECT_EQ(rows[i].description, expected[i].name) << i;
        EXPECT_EQ(rows[i].type, expected[i].type) << i;
        EXPECT_EQ(rows[i].speed, expected[i].speed) << i;
        EXPECT_EQ(rows[i].operStatus, expected[i].status) << i;
        EXPECT_EQ(rows[i].inOctets, expected[i].in) << i;
        EXPECT_EQ(rows[i].outOctets, expected[i].out) << i;
    }
}

TEST_F(InterfaceReaderTest, LaterRefreshesAskOnlyForCounters) {
    readRows();
    EXPECT_EQ(fake->linkDumps, 1);
    EXPECT_EQ(fake->speedQueryCount(), 3);
    fake->links[2].rx += 500;
    for (int i = 0; i < 5; ++i)
        readRows();
    const auto rows = readRows();
    EXPECT_EQ(rows[1].inOctets, 0x1'0000'0010ull + 500);
    EXPECT_EQ(fake->statsDumps, 7);
    EXPECT_EQ(fake->linkDumps, 1);
    EXPECT_EQ(fake->speedQueryCount(), 3);
    EXPECT_EQ(fake->wirelessChecks["eth0"], 1);
}

TEST_F(InterfaceReaderTest, LinkEventsKeepDetailsCurrentWithoutADump) {
    readRows();
    // eth0 loses its carrier, wlan0 associates, lo goes away, ppp0 comes.
    fake->links[2].flags = IFF_UP;
    fake->links[2].operState = IF_OPER_DOWN;
    fake->links[2].mbps = std::nullopt;
    fake->pushEvent(fake->links[2]);
    fake->links[0].operState = IF_OPER_UP;
    fake->pushEvent(fake->links[0]);
    fake->pushEvent(fake->links[1], true);
    fake->links.erase(fake->links.begin() + 1);
    fake->links.push_back(
        {7, "ppp0", ARPHRD_PPP, IFF_UP | IFF_RUNNING, IF_OPER_UNKNOWN, 1, 2, std::nullopt, false});
    fake->pushEvent(fake->links.back());

    const auto rows = readRows();
    EXPECT_EQ(indexes(rows), (std::vector<std::uint32_t>{2, 4, 7}));
    EXPECT_EQ(rows[0].operStatus, 2u);
    EXPECT_EQ(rows[0].speed, 0u);  // speed asked again when the state changed
    EXPECT_EQ(rows[1].operStatus, 5u);
    EXPECT_EQ(rows[2].type, 23u);
    EXPECT_EQ(fake->linkDumps, 1);
    EXPECT_EQ(fake->speedQueries["eth0"], 2);
    EXPECT_EQ(fake->wirelessChecks["eth0"], 1);  // not renamed: not checked again
}

TEST_F(InterfaceReaderTest, EventDetails) {
    readRows();
    struct Step {
        const char* what;
        std::function<void(FakeNetSysCalls&)> act;
        std::function<void(const std::vector<InterfaceRow>&, FakeNetSysCalls&)> check;
    };
    const std::vector<Step> steps = {
        {"repeated identical event asks nothing",
         [](FakeNetSysCalls& f) { f.pushEvent(f.links[2]); },
         [](const auto&, FakeNetSysCalls& f) { EXPECT_EQ(f.speedQueries["eth0"], 1); }},
        {"rename checks wireless again",
         [](FakeNetSysCalls& f) {
             f.links[2].name = "wlan9";
             f.links[2].wireless = true;
             f.pushEvent(f.links[2]);
         },
         [](const auto& rows, FakeNetSysCalls& f) {
             EXPECT_EQ(rows[1].description, "wlan9");
             EXPECT_EQ(rows[1].type, 71u);
             EXPECT_EQ(f.wirelessChecks["wlan9"], 1);
         }},
        {"event without a name (wireless extensions) changes the flags only",
         [](FakeNetSysCalls& f) {
             f.events.push_back({testing::NetlinkBuilder()
                                     .message(RTM_NEWLINK, 0, 0)
                                     .link(2, ARPHRD_ETHER, 0)
                                     .bytes()});
         },
         [](const auto& rows, FakeNetSysCalls&) {
             EXPECT_EQ(rows[1].description, "wlan9");
             EXPECT_EQ(rows[1].operStatus, 0u);
         }},
        {"event from a user process is ignored",
         [](FakeNetSysCalls& f) {
             FakeLink spoof = f.links[1];
             spoof.name = "evil";
             f.events.push_back({FakeNetSysCalls::linkMessage(spoof, RTM_NEWLINK, 0, 0), 0, 4242});
         },
         [](const auto& rows, FakeNetSysCalls& f) {
             EXPECT_EQ(rows[0].description, "lo");
             EXPECT_EQ(f.linkDumps, 1);
         }},
        {"nameless event for an unknown interface brings a dump",
         [](FakeNetSysCalls& f) {
             f.events.push_back({testing::NetlinkBuilder()
                                     .message(RTM_NEWLINK, 0, 0)
                                     .link(55, ARPHRD_ETHER, 0)
                                     .bytes()});
         },
         [](const auto&, FakeNetSysCalls& f) { EXPECT_EQ(f.linkDumps, 2); }},
        {"malformed event datagram brings a dump",
         [](FakeNetSysCalls& f) {
             f.events.push_back({{1, 2, 3}});
         },
         [](const auto&, FakeNetSysCalls& f) { EXPECT_EQ(f.linkDumps, 3); }},
        {"dropped events (ENOBUFS) bring a dump",
         [](FakeNetSysCalls& f) {
             f.events.push_back({{}, ENOBUFS});
             f.pushEvent(f.links[0]);
         },
         [](const auto&, FakeNetSysCalls& f) { EXPECT_EQ(f.linkDumps, 4); }},
        {"interface that came without an event is found by its counters",
         [](FakeNetSysCalls& f) {
             f.links.push_back(
                 {9, "tun0", ARPHRD_NONE, IFF_UP, IF_OPER_UNKNOWN, 0, 0, std::nullopt, false});
         },
         [](const auto& rows, FakeNetSysCalls& f) {
             EXPECT_EQ(f.linkDumps, 5);
             ASSERT_EQ(rows.size(), 4u);
             EXPECT_EQ(rows[3].type, 131u);
         }},
        {"interface gone without an event is dropped",
         [](FakeNetSysCalls& f) { f.links.erase(f.links.begin()); },
         [](const auto& rows, FakeNetSysCalls& f) {
             EXPECT_EQ(f.linkDumps, 6);
             EXPECT_EQ(rows.size(), 3u);
         }},
        {"after the dump the speeds of unchanged links were kept", [](FakeNetSysCalls&) {},
         [](const auto&, FakeNetSysCalls& f) {
             EXPECT_EQ(f.speedQueries["lo"], 1);
             EXPECT_EQ(f.linkDumps, 6);
         }},
    };
    for (const Step& step : steps) {
        step.act(*fake);
        const auto rows = readRows();
        step.check(rows, *fake);
        if (HasFailure())
            FAIL() << step.what;
    }
}

TEST_F(InterfaceReaderTest, WithoutAnEventSocketLinksAreDumpedEachTimeButSpeedsKept) {
    fake->eventOpenError = EPERM;
    readRows();
    fake->links[2].operState = IF_OPER_DOWN;
    const auto rows = readRows();
    EXPECT_EQ(rows[1].operStatus, 2u);
    readRows();
    EXPECT_EQ(fake->linkDumps, 3);
    EXPECT_EQ(fake->speedQueries["lo"], 1);
    EXPECT_EQ(fake->speedQueries["eth0"], 2);  // its state changed once
}

TEST_F(InterfaceReaderTest, LostEventSocketFallsBackAndReopens) {
    readRows();
    fake->events.push_back({{}, EBADF});
    readRows();
    EXPECT_EQ(fake->linkDumps, 2);
    readRows();  // reopened, so a fresh dump once more, then events again
    readRows();
    EXPECT_EQ(fake->linkDumps, 3);
}

TEST_F(InterfaceReaderTest, FaultsGiveFailureAndTheNextReadRecovers) {
    struct Case {
        const char* what;
        std::function<void(FakeNetSysCalls&)> inject;
    };
    const std::vector<Case> cases = {
        {"send fails", [](auto& f) { f.sendError = ENOBUFS; }},
        {"receive fails", [](auto& f) { f.receiveError = EIO; }},
        {"kernel answers with an error",
         [](auto& f) {
             f.editReply = [](auto& reply) {
                 reply.assign(1, {testing::NetlinkBuilder().error(0, -EOPNOTSUPP).bytes()});
             };
         }},
        {"reply ends without a done (receive times out)",
         [](auto& f) { f.editReply = [](auto& reply) { reply.pop_back(); }; }},
        {"malformed header",
         [](auto& f) { f.editReply = [](auto& reply) { reply.front().bytes.resize(10); }; }},
        {"dump inconsistent three times running", [](auto& f) { f.interruptDumps = 3; }},
    };
    for (const Case& c : cases) {
        SetUp();
        readRows();  // sockets open and details kept
        c.inject(*fake);
        EXPECT_FALSE(reader->read().has_value()) << c.what;
        fake->openError = fake->sendError = 0;
        EXPECT_EQ(fake->openFds.size(), 0u) << c.what << ": sockets closed after a failure";
        const auto rows = reader->read();
        ASSERT_TRUE(rows.has_value()) << c.what;
        EXPECT_EQ(rows->size(), 3u) << c.what;
    }
}

TEST_F(InterfaceReaderTest, SocketThatCannotBeOpenedFailsUntilItCan) {
    fake->openError = EACCES;
    EXPECT_FALSE(reader->read().has_value());
    EXPECT_TRUE(fake->openFds.empty());
    fake->openError = 0;
    ASSERT_TRUE(reader->read().has_value());

    fake->receiveError = EIO;  // lose the sockets, then fail to reopen them
    EXPECT_FALSE(reader->read().has_value());
    fake->openError = EMFILE;
    EXPECT_FALSE(reader->read().has_value());
    EXPECT_TRUE(fake->openFds.empty());
    fake->openError = 0;
    const auto rows = reader->read();
    ASSERT_TRUE(rows.has_value());
    EXPECT_EQ(rows->size(), 3u);
}

TEST_F(InterfaceReaderTest, EventSocketRefusedIsNotAskedForAtEveryRefresh) {
    fake->eventOpenError = EPERM;
    for (int i = 0; i < 4; ++i)
        readRows();
    EXPECT_EQ(fake->opens, 1);
}

TEST_F(InterfaceReaderTest, ReplyQuirksStillGiveTheRightRows) {
    struct Case {
        const char* what;
        std::function<void(FakeNetSysCalls&)> inject;
        int statsDumps;  // dumps the second read needed
    };
    const std::vector<Case> cases = {
        {"stale reply of an abandoned request ahead of ours",
         [](auto& f) {
             f.beforeReply.push_back({testing::NetlinkBuilder()
                                          .message(RTM_NEWSTATS, 9999)
                                          .statsHeader(2)
                                          .stats64(1, 1)
                                          .done(9999)
                                          .bytes()});
         },
         1},
        {"datagram from another process ignored",
         [](auto& f) {
             // Another process can send to our port, even with the right sequence number.
             f.beforeReply.push_back(
                 {testing::NetlinkBuilder().error(0, -EPERM).bytes(), 0, 77, true});
         },
         1},
        {"one record per datagram", [](auto& f) { f.recordsPerDatagram = 1; }, 1},
        {"inconsistent dump asked again", [](auto& f) { f.interruptDumps = 1; }, 2},
        {"reply larger than the buffer asked again with room",
         [](auto& f) { f.padNextReply = 100000; }, 2},
        {"an interface listed twice shows once",
         [](auto& f) {
             f.editReply = [](auto& reply) { reply.insert(reply.begin(), reply.front()); };
         },
         1},
    };
    for (const Case& c : cases) {
        SetUp();
        readRows();
        c.inject(*fake);
        const int before = fake->statsDumps;
        const auto rows = readRows();
        EXPECT_EQ(fake->statsDumps - before, c.statsDumps) << c.what;
        EXPECT_EQ(indexes(rows), (std::vector<std::uint32_t>{1, 2, 4})) << c.what;
        ASSERT_EQ(rows.size(), 3u) << c.what;
        EXPECT_EQ(rows[1].inOctets, 0x1'0000'0010ull) << c.what;
    }
}

TEST_F(InterfaceReaderTest, NoInterfacesIsAnEmptyTableNotAFailure) {
    fake->links.clear();
    const auto rows = reader->read();
    ASSERT_TRUE(rows.has_value());
    EXPECT_TRUE(rows->empty());
}

}  // namespace
}  // namespace koravex
