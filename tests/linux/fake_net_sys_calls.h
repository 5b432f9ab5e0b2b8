#pragma once
// A kernel in miniature for the interface reader: answers link and statistics dumps from a
// list of links, queues link events, and injects the faults a test asks for.
#include <linux/if.h>
#include <linux/if_arp.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <set>

#include "core/linux/net_sys_calls.h"
#include "tests/linux/netlink_builder.h"

namespace koravex::testing {

struct FakeLink {
    std::uint32_t index = 0;
    std::string name;
    std::uint16_t arphrd = ARPHRD_ETHER;
    std::uint32_t flags = IFF_UP | IFF_RUNNING;
    std::uint8_t operState = IF_OPER_UP;
    std::uint64_t rx = 0;
    std::uint64_t tx = 0;
    std::optional<std::uint32_t> mbps;
    bool wireless = false;
};

class FakeNetSysCalls : public linux_net::NetSysCalls {
  public:
    struct Datagram {
        std::vector<unsigned char> bytes;
        int error = 0;  // when set, receive returns -error instead
        std::uint32_t sender = 0;
        bool stampSeq = false;  // its first message takes the sequence number of the request
    };

    std::vector<FakeLink> links;
    std::size_t recordsPerDatagram = 2;

    // Faults.
    int openError = 0;       // for the query socket
    int eventOpenError = 0;  // for the event socket
    int sendError = 0;
    int receiveError = 0;              // the next query receive fails with it
    int interruptDumps = 0;            // this many coming dumps carry NLM_F_DUMP_INTR
    std::size_t padNextReply = 0;      // the first datagram of the next reply grows to this size
    std::deque<Datagram> beforeReply;  // queued ahead of the next reply (stale, foreign, ...)
    std::function<void(std::vector<Datagram>&)> editReply;  // rewrites the next reply

    std::deque<Datagram> events;

    // What was asked.
    int opens = 0;
    int closes = 0;
    int linkDumps = 0;
    int statsDumps = 0;
    std::map<std::string, int> speedQueries;
    std::map<std::string, int> wirelessChecks;
    std::set<int> openFds;

    int speedQueryCount() const {
        int n = 0;
        for (const auto& [name, count] : speedQueries)
            n += count;
        return n;
    }

    void pushEvent(const FakeLink& link, bool deleted = false) {
        events.push_back({linkMessage(link, deleted ? RTM_DELLINK : RTM_NEWLINK, 0, 0)});
    }

    int openRoute(std::uint32_t groups) override {
        const int error = groups ? eventOpenError : openError;
        if (error)
            return -error;
        ++opens;
        const int fd = nextFd_++;
        openFds.insert(fd);
        if (groups)
            eventFd_ = fd;
        else
            queryFd_ = fd;
        return fd;
    }
    void close(int fd) override {
        ++closes;
        openFds.erase(fd);
        if (fd == eventFd_)
            eventFd_ = -1;
        if (fd == queryFd_) {
            queryFd_ = -1;
            queue_.clear();
        }
    }
    int send(int fd, std::span<const unsigned char> request) override {
        if (fd != queryFd_)
            return -EBADF;
        if (sendError)
            return -sendError;
        nlmsghdr header;
        if (request.size() < sizeof header)
            return -EINVAL;
        std::memcpy(&header, request.data(), sizeof header);
        if (header.nlmsg_len != request.size() || !(header.nlmsg_flags & NLM_F_DUMP)) {
            return -EINVAL;
        }
        std::vector<Datagram> reply = makeReply(header.nlmsg_type, header.nlmsg_seq);
        if (editReply) {
            auto edit = std::move(editReply);
            editReply = nullptr;
            edit(reply);
        }
        while (!beforeReply.empty()) {
            auto& d = beforeReply.front();
            if (d.stampSeq && d.bytes.size() >= sizeof header) {
                std::memcpy(d.bytes.data() + offsetof(nlmsghdr, nlmsg_seq), &header.nlmsg_seq,
                            sizeof header.nlmsg_seq);
            }
            queue_.push_back(std::move(d));
            beforeReply.pop_front();
        }
        for (auto& d : reply)
            queue_.push_back(std::move(d));
        return 0;
    }
    ssize_t receive(int fd, std::span<unsigned char> buffer, bool wait,
                    std::uint32_t& sender) override {
        std::deque<Datagram>* queue = fd == queryFd_ ? &queue_ : fd == eventFd_ ? &events : nullptr;
        if (!queue)
            return -EBADF;
        if (fd == queryFd_ && receiveError) {
            const int error = receiveError;
            receiveError = 0;
            return -error;
        }
        if (queue->empty())
            return wait ? -EAGAIN : -EAGAIN;
        Datagram d = std::move(queue->front());
        queue->pop_front();
        if (d.error)
            return -d.error;
        sender = d.sender;
        if (!d.bytes.empty())
            std::memcpy(buffer.data(), d.bytes.data(), std::min(buffer.size(), d.bytes.size()));
        return static_cast<ssize_t>(d.bytes.size());
    }
    std::optional<std::uint32_t> linkSpeedMbps(const std::string& name) override {
        ++speedQueries[name];
        for (const auto& link : links) {
            if (link.name == name)
                return link.mbps;
        }
        return std::nullopt;
    }
    bool isWireless(const std::string& name) override {
        ++wirelessChecks[name];
        for (const auto& link : links) {
            if (link.name == name)
                return link.wireless;
        }
        return false;
    }

    static std::vector<unsigned char> linkMessage(const FakeLink& link, std::uint16_t type,
                                                  std::uint32_t seq, std::uint16_t flags) {
        return NetlinkBuilder()
            .message(type, seq, flags)
            .link(static_cast<std::int32_t>(link.index), link.arphrd, link.flags)
            .name(link.name)
            .operState(link.operState)
            .bytes();
    }

  private:
    std::vector<Datagram> makeReply(std::uint16_t type, std::uint32_t seq) {
        const std::uint16_t flags = NLM_F_MULTI | (interruptDumps > 0 ? NLM_F_DUMP_INTR : 0);
        if (interruptDumps > 0)
            --interruptDumps;
        if (type == RTM_GETLINK)
            ++linkDumps;
        if (type == RTM_GETSTATS)
            ++statsDumps;
        std::vector<Datagram> reply;
        NetlinkBuilder current;
        std::size_t inCurrent = 0;
        for (const auto& link : links) {
            if (type == RTM_GETLINK) {
                const auto bytes = linkMessage(link, RTM_NEWLINK, seq, flags);
                current.raw(bytes.data(), bytes.size());
            } else {
                NetlinkBuilder one;
                one.message(RTM_NEWSTATS, seq, flags)
                    .statsHeader(link.index)
                    .stats64(link.rx, link.tx);
                const auto bytes = one.bytes();
                current.raw(bytes.data(), bytes.size());
            }
            if (++inCurrent == recordsPerDatagram) {
                reply.push_back({current.bytes()});
                current = NetlinkBuilder();
                inCurrent = 0;
            }
        }
        if (inCurrent)
            reply.push_back({current.bytes()});
        reply.push_back({NetlinkBuilder().done(seq).bytes()});
        if (padNextReply) {
            auto& first = reply.front().bytes;
            NetlinkBuilder noop;
            noop.message(NLMSG_NOOP, seq, 0);
            std::vector<unsigned char> filler(
                padNextReply > first.size() + 16 ? padNextReply - first.size() - 16 : 0);
            noop.raw(filler.data(), filler.size());
            const auto bytes = noop.bytes();
            first.insert(first.end(), bytes.begin(), bytes.end());
            padNextReply = 0;
        }
        return reply;
    }

    int nextFd_ = 10;
    int queryFd_ = -1;
    int eventFd_ = -1;
    std::deque<Datagram> queue_;
};

}  // namespace koravex::testing
