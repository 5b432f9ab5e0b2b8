#pragma once
// The network interface table from rtnetlink: one row per interface, in ifindex order.
//
// Per refresh the reader asks the kernel for one RTM_GETSTATS dump (64-bit byte counters)
// on a kept NETLINK_ROUTE socket. Link details (name, type, flags, operational state, speed)
// come from an RTM_GETLINK dump and are kept; a second socket joined to the link event group
// keeps them current (state changes, new, renamed and removed interfaces), and any doubt
// (event overflow, a set of interfaces in the counters that differs from the kept one, a
// lost event socket) brings a fresh link dump. The speed (ethtool) and the wireless check
// are asked only when an interface's details are first read or change, never per refresh.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/linux/net_sys_calls.h"
#include "core/linux/netlink_parse.h"
#include "core/probes.h"

namespace koravex {

class InterfaceReader {
  public:
    // Reads the running system; sysfs (for the wireless check) under `sysRoot`.
    explicit InterfaceReader(std::string sysRoot = "/sys");
    explicit InterfaceReader(std::unique_ptr<linux_net::NetSysCalls> sys);
    ~InterfaceReader();
    InterfaceReader(const InterfaceReader&) = delete;
    InterfaceReader& operator=(const InterfaceReader&) = delete;

    // nullopt: the query failed (the table stays empty). The sockets are opened on the first
    // call, in the network namespace of the calling thread, and reopened after a failure.
    std::optional<std::vector<InterfaceRow>> read();

  private:
    struct Link {
        std::uint32_t index = 0;
        std::string name;
        std::uint16_t arphrd = 0;
        std::uint32_t flags = 0;
        std::uint8_t operState = 0;
        bool wireless = false;
        std::uint64_t speed = 0;  // bits per second
    };

    bool openSockets();
    void closeSockets();
    // false: the kept details can no longer be trusted and must be dumped again.
    bool drainEvents();
    void applyEvent(const linux_net::LinkRecord& event, bool& redump);
    bool dumpLinks();
    bool dumpStats();
    template <class Record, class Parser>
    bool dump(std::vector<unsigned char>& request, std::vector<Record>& out, Parser parse);
    // Fills a link's derived details from the system: wireless and speed when `identity` is
    // set (new or renamed), the speed alone otherwise.
    void lookUp(Link& link, bool identity);
    bool countersMatchLinks() const;

    std::unique_ptr<linux_net::NetSysCalls> sys_;
    int queryFd_ = -1;
    int eventFd_ = -1;
    std::uint32_t seq_ = 0;
    bool linksValid_ = false;
    bool reopenEvents_ = false;
    std::vector<Link> links_;  // by ifindex
    std::vector<unsigned char> buffer_;
    std::vector<unsigned char> linkRequest_;
    std::vector<unsigned char> statsRequest_;
    std::vector<linux_net::LinkRecord> linkRecords_;
    std::vector<linux_net::StatsRecord> stats_;
};

}  // namespace koravex
