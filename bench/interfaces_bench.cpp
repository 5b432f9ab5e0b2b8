// The interface table: one read of the reader against the raw kernel calls it cannot avoid.
// Run in a namespace with many interfaces through bench/netns_bench.sh.
#include <benchmark/benchmark.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "core/linux/interface_reader.h"

namespace {

using koravex::InterfaceReader;

// The reader as used at every refresh: one statistics dump, link details kept.
void BM_InterfaceReaderRead(benchmark::State& state) {
    InterfaceReader reader;
    std::size_t rows = 0;
    for (auto _ : state) {
        auto table = reader.read();
        if (!table) {
            state.SkipWithError("interface query failed");
            return;
        }
        rows = table->size();
        benchmark::DoNotOptimize(table);
    }
    state.counters["interfaces"] = static_cast<double>(rows);
}
BENCHMARK(BM_InterfaceReaderRead);

// The same reader when no link events can be had: a link dump at every refresh too.
class NoEvents final : public koravex::linux_net::NetSysCalls {
  public:
    int openRoute(std::uint32_t groups) override {
        return groups ? -EPERM : real_.openRoute(groups);
    }
    void close(int fd) override { real_.close(fd); }
    int send(int fd, std::span<const unsigned char> request) override {
        return real_.send(fd, request);
    }
    ssize_t receive(int fd, std::span<unsigned char> buffer, bool wait,
                    std::uint32_t& sender) override {
        return real_.receive(fd, buffer, wait, sender);
    }
    std::optional<std::uint32_t> linkSpeedMbps(const std::string& name) override {
        return real_.linkSpeedMbps(name);
    }
    bool isWireless(const std::string& name) override { return real_.isWireless(name); }

  private:
    koravex::linux_net::SystemNetSysCalls real_;
};

void BM_InterfaceReaderReadWithoutEvents(benchmark::State& state) {
    InterfaceReader reader(std::make_unique<NoEvents>());
    for (auto _ : state) {
        auto table = reader.read();
        if (!table) {
            state.SkipWithError("interface query failed");
            return;
        }
        benchmark::DoNotOptimize(table);
    }
}
BENCHMARK(BM_InterfaceReaderReadWithoutEvents);

// The lower bound: one dump request on a kept socket, its reply received, nothing parsed
// beyond finding its end.
void rawDump(benchmark::State& state, std::uint16_t type, const void* body, std::size_t size) {
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        state.SkipWithError("no netlink socket");
        return;
    }
    std::vector<unsigned char> request(sizeof(nlmsghdr) + size);
    std::memcpy(request.data() + sizeof(nlmsghdr), body, size);
    std::vector<unsigned char> buffer(64 * 1024);
    std::uint32_t seq = 0;
    std::size_t bytes = 0;
    for (auto _ : state) {
        nlmsghdr header{};
        header.nlmsg_len = static_cast<std::uint32_t>(request.size());
        header.nlmsg_type = type;
        header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
        header.nlmsg_seq = ++seq;
        std::memcpy(request.data(), &header, sizeof header);
        ::send(fd, request.data(), request.size(), 0);
        bytes = 0;
        for (bool done = false; !done;) {
            const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (got <= 0) {
                state.SkipWithError("receive failed");
                ::close(fd);
                return;
            }
            bytes += static_cast<std::size_t>(got);
            for (std::size_t off = 0; off + sizeof(nlmsghdr) <= static_cast<std::size_t>(got);) {
                nlmsghdr h;
                std::memcpy(&h, buffer.data() + off, sizeof h);
                if (h.nlmsg_type == NLMSG_DONE || h.nlmsg_type == NLMSG_ERROR)
                    done = true;
                if (h.nlmsg_len < sizeof h)
                    break;
                off += NLMSG_ALIGN(h.nlmsg_len);
            }
        }
    }
    state.counters["reply_bytes"] = static_cast<double>(bytes);
    ::close(fd);
}

void BM_RawStatsDump(benchmark::State& state) {
    if_stats_msg body{};
    body.filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
    rawDump(state, RTM_GETSTATS, &body, sizeof body);
}
BENCHMARK(BM_RawStatsDump);

void BM_RawLinkDump(benchmark::State& state) {
    ifinfomsg body{};
    rawDump(state, RTM_GETLINK, &body, sizeof body);
}
BENCHMARK(BM_RawLinkDump);

}  // namespace

BENCHMARK_MAIN();
