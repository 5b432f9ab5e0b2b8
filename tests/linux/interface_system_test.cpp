// The interface reader on the running machine, against `ip -s -j link` and sysfs.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>

#include "core/linux/interface_reader.h"
#include "core/linux/netlink_parse.h"

namespace koravex {
namespace {

std::string runCommand(const char* command) {
    std::string out;
    if (FILE* pipe = ::popen(command, "r")) {
        char chunk[4096];
        std::size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
            out.append(chunk, n);
        ::pclose(pipe);
    }
    return out;
}

struct IpLink {
    std::uint32_t index = 0;
    std::string name;
    std::string operState;
    std::string linkType;
    std::string flags;  // the JSON array text
    std::uint64_t rx = 0;
    std::uint64_t tx = 0;
};

// Just enough of ip's JSON: each interface object starts with its "ifindex" key.
std::string field(const std::string& object, const std::string& key) {
    const std::string quoted = "\"" + key + "\":";
    const auto at = object.find(quoted);
    if (at == std::string::npos)
        return {};
    auto start = at + quoted.size();
    if (object[start] == '"') {
        const auto end = object.find('"', start + 1);
        return object.substr(start + 1, end - start - 1);
    }
    if (object[start] == '[')
        return object.substr(start, object.find(']', start) - start + 1);
    auto end = start;
    while (end < object.size() && std::isdigit(static_cast<unsigned char>(object[end])))
        ++end;
    return object.substr(start, end - start);
}

std::uint64_t counter(const std::string& object, const char* direction) {
    const auto stats = object.find("\"stats64\":");
    if (stats == std::string::npos)
        return ~0ull;
    const auto dir = object.find(std::string("\"") + direction + "\":{", stats);
    if (dir == std::string::npos)
        return ~0ull;
    return std::stoull(field(object.substr(dir + 6), "bytes"));
}

std::vector<IpLink> ipLinks() {
    const std::string json = runCommand("ip -s -j link 2>/dev/null");
    std::vector<IpLink> links;
    const std::string marker = "{\"ifindex\":";
    for (auto at = json.find(marker); at != std::string::npos;) {
        const auto next = json.find(marker, at + 1);
        const std::string object = json.substr(at, next == std::string::npos ? next : next - at);
        IpLink link;
        link.index = static_cast<std::uint32_t>(std::stoul(field(object, "ifindex")));
        link.name = field(object, "ifname");
        link.operState = field(object, "operstate");
        link.linkType = field(object, "link_type");
        link.flags = field(object, "flags");
        link.rx = counter(object, "rx");
        link.tx = counter(object, "tx");
        links.push_back(link);
        at = next;
    }
    return links;
}

bool hasFlag(const IpLink& link, const char* flag) {
    return link.flags.find(std::string("\"") + flag + "\"") != std::string::npos;
}

std::uint32_t expectedStatus(const IpLink& link) {
    static const std::map<std::string, std::uint8_t> states = {
        {"UNKNOWN", IF_OPER_UNKNOWN}, {"NOTPRESENT", IF_OPER_NOTPRESENT},
        {"DOWN", IF_OPER_DOWN},       {"LOWERLAYERDOWN", IF_OPER_LOWERLAYERDOWN},
        {"TESTING", IF_OPER_TESTING}, {"DORMANT", IF_OPER_DORMANT},
        {"UP", IF_OPER_UP},
    };
    const auto state = states.find(link.operState);
    // ip shows LOWER_UP where the kernel has a carrier, which is what RUNNING tells.
    const std::uint32_t flags = (hasFlag(link, "UP") ? std::uint32_t{IFF_UP} : 0u) |
                                (hasFlag(link, "LOWER_UP") ? std::uint32_t{IFF_RUNNING} : 0u);
    return linux_net::operStatus(state == states.end() ? 255 : state->second, flags);
}

std::uint32_t expectedType(const IpLink& link) {
    static const std::map<std::string, std::uint32_t> types = {
        {"loopback", 24},
        {"ppp", 23},
        {"none", 131},
        {"ipip", 131},
        {"sit", 131},
        {"gre", 131},
        {"gre6", 131},
        {"tunnel6", 131},
        {"ieee802.11", 71},
        {"ieee802.11/prism", 71},
        {"ieee802.11/radiotap", 71},
    };
    if (link.linkType == "ether") {
        struct stat info;
        const std::string base = "/sys/class/net/" + link.name;
        const bool wireless = ::stat((base + "/wireless").c_str(), &info) == 0 ||
                              ::stat((base + "/phy80211").c_str(), &info) == 0;
        return wireless ? 71 : 6;
    }
    const auto type = types.find(link.linkType);
    return type == types.end() ? 1 : type->second;
}

// sysfs speed file: Mb/s; unreadable (EINVAL on lo and ifb) or -1 means no speed.
std::uint64_t sysfsSpeed(const std::string& name) {
    std::ifstream file("/sys/class/net/" + name + "/speed");
    long long mbps = 0;
    if (!(file >> mbps) || mbps <= 0 || mbps == 0xFFFF)
        return 0;
    return static_cast<std::uint64_t>(mbps) * 1'000'000u;
}

TEST(InterfaceReaderSystem, MatchesIpLinkAndSysfs) {
    InterfaceReader reader;
    const auto before = reader.read();
    const auto links = ipLinks();
    const auto after = reader.read();
    ASSERT_TRUE(before.has_value());
    ASSERT_TRUE(after.has_value());
    if (links.empty())
        GTEST_SKIP() << "`ip -s -j link` gave nothing to compare with";

    ASSERT_EQ(before->size(), links.size());
    ASSERT_EQ(after->size(), links.size());
    for (std::size_t i = 0; i < links.size(); ++i) {
        const IpLink& ip = links[i];
        const InterfaceRow& a = (*before)[i];
        const InterfaceRow& b = (*after)[i];
        SCOPED_TRACE(ip.name);
        EXPECT_EQ(a.index, ip.index);
        EXPECT_EQ(a.description, ip.name);
        EXPECT_EQ(b.index, ip.index);
        EXPECT_EQ(b.description, ip.name);
        EXPECT_EQ(a.type, expectedType(ip));
        EXPECT_EQ(a.operStatus, expectedStatus(ip));
        EXPECT_EQ(a.speed, sysfsSpeed(ip.name));
        // Counters only grow: ip's reading lies between the reader's two.
        EXPECT_LE(a.inOctets, ip.rx);
        EXPECT_LE(ip.rx, b.inOctets);
        EXPECT_LE(a.outOctets, ip.tx);
        EXPECT_LE(ip.tx, b.outOctets);
    }
}

TEST(InterfaceReaderSystem, LoopbackCountsItsOwnTraffic) {
    InterfaceReader reader;
    const auto before = reader.read();
    ASSERT_TRUE(before && !before->empty());
    ASSERT_EQ((*before)[0].description, "lo");

    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(9);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::vector<char> payload(4000, 'x');
    const auto sent = ::sendto(fd, payload.data(), payload.size(), 0,
                               reinterpret_cast<const sockaddr*>(&to), sizeof to);
    ::close(fd);
    ASSERT_EQ(sent, static_cast<ssize_t>(payload.size()));

    const auto after = reader.read();
    ASSERT_TRUE(after && !after->empty());
    EXPECT_GE((*after)[0].inOctets - (*before)[0].inOctets, payload.size());
    EXPECT_GE((*after)[0].outOctets - (*before)[0].outOctets, payload.size());
}

}  // namespace
}  // namespace koravex
