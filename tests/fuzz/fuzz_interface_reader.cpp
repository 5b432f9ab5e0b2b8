// libFuzzer target for the interface reader's handling of what the kernel sends: the input is
// a script of query replies (grouped by request), link events, receive errors and reads. After each
// read the table must be sound: ascending indexes, known types and statuses, bounded descriptions.
#include <linux/netlink.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "core/linux/interface_reader.h"

namespace {

using koravex::linux_net::NetSysCalls;

struct Datagram {
    std::vector<unsigned char> bytes;
    int error = 0;
};

class ScriptedCalls final : public NetSysCalls {
  public:
    std::deque<std::deque<Datagram>> replies;  // one group is handed out per request
    std::deque<Datagram> events;
    std::deque<Datagram> pending;  // replies of the request in flight
    std::uint32_t seq = 0;

    int openRoute(std::uint32_t groups) override { return groups ? 2 : 1; }
    void close(int) override {}
    int send(int, std::span<const unsigned char> request) override {
        nlmsghdr header;
        if (request.size() < sizeof header)
            std::abort();
        std::memcpy(&header, request.data(), sizeof header);
        if (header.nlmsg_len != request.size())
            std::abort();
        seq = header.nlmsg_seq;
        // The script's replies answer this request: they take its sequence number.
        if (replies.empty())
            return 0;
        for (Datagram& d : replies.front()) {
            stamp(d.bytes);
            pending.push_back(std::move(d));
        }
        replies.pop_front();
        return 0;
    }
    ssize_t receive(int fd, std::span<unsigned char> buffer, bool, std::uint32_t& sender) override {
        auto& queue = fd == 1 ? pending : events;
        if (queue.empty())
            return -EAGAIN;
        Datagram d = std::move(queue.front());
        queue.pop_front();
        if (d.error)
            return -d.error;
        sender = 0;
        if (!d.bytes.empty())
            std::memcpy(buffer.data(), d.bytes.data(), std::min(buffer.size(), d.bytes.size()));
        return static_cast<ssize_t>(d.bytes.size());
    }
    std::optional<std::uint32_t> linkSpeedMbps(const std::string& name) override {
        if (name.empty())
            return std::nullopt;
        return static_cast<std::uint32_t>(name[0]) * 0x01010101u;
    }
    bool isWireless(const std::string& name) override { return name.size() % 2; }

  private:
    void stamp(std::vector<unsigned char>& bytes) const {
        std::size_t off = 0;
        while (bytes.size() - off >= sizeof(nlmsghdr)) {
            std::uint32_t length;
            std::memcpy(&length, bytes.data() + off, sizeof length);
            if (length < sizeof(nlmsghdr))
                return;
            std::memcpy(bytes.data() + off + offsetof(nlmsghdr, nlmsg_seq), &seq, sizeof seq);
            off += std::min<std::size_t>((std::size_t{length} + 3) & ~std::size_t{3},
                                         bytes.size() - off);
        }
    }
};

void check(const std::vector<koravex::InterfaceRow>& rows) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& row = rows[i];
        if (i > 0 && rows[i - 1].index >= row.index)
            std::abort();
        if (row.index == 0 || row.description.size() > 256 || row.operStatus > 5)
            std::abort();
        switch (row.type) {
            case 1:
            case 6:
            case 23:
            case 24:
            case 71:
            case 131:
                break;
            default:
                std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    auto owned = std::make_unique<ScriptedCalls>();
    ScriptedCalls& calls = *owned;
    koravex::InterfaceReader reader(std::move(owned));
    std::size_t off = 0;
    int reads = 0;
    while (off + 3 <= size && reads < 16) {
        const unsigned kind = data[off];
        const std::size_t length = std::min<std::size_t>(
            static_cast<std::size_t>(data[off + 1]) | static_cast<std::size_t>(data[off + 2]) << 8,
            size - off - 3);
        const unsigned char* body = data + off + 3;
        off += 3 + length;
        if (calls.replies.empty())
            calls.replies.emplace_back();
        switch (kind % 6) {
            case 0:
                calls.replies.back().push_back({{body, body + length}});
                break;
            case 5:  // the next datagrams answer the next request
                calls.replies.emplace_back();
                break;
            case 1:
                calls.events.push_back({{body, body + length}});
                break;
            case 2:
                calls.replies.back().push_back({{}, length ? body[0] % 140 + 1 : EIO});
                break;
            case 3:
                calls.events.push_back({{}, length % 2 ? ENOBUFS : EBADF});
                break;
            case 4:
                ++reads;
                if (auto rows = reader.read())
                    check(*rows);
                calls.pending.clear();
                break;
        }
    }
    return 0;
}
