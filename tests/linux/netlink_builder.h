#pragma once
// Builds rtnetlink datagrams byte by byte for the tests: well-formed ones by default, and
// any malformation a test asks for by writing the bytes it wants.
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace koravex::testing {

class NetlinkBuilder {
  public:
    // Starts a message; its length is filled in when the next one starts or at bytes().
    NetlinkBuilder& message(std::uint16_t type, std::uint32_t seq,
                            std::uint16_t flags = NLM_F_MULTI) {
        finish();
        start_ = data_.size();
        nlmsghdr header{};
        header.nlmsg_type = type;
        header.nlmsg_flags = flags;
        header.nlmsg_seq = seq;
        raw(&header, sizeof header);
        open_ = true;
        return *this;
    }
    NetlinkBuilder& link(std::int32_t index, std::uint16_t arphrd, std::uint32_t flags) {
        ifinfomsg info{};
        info.ifi_index = index;
        info.ifi_type = arphrd;
        info.ifi_flags = flags;
        return raw(&info, sizeof info);
    }
    NetlinkBuilder& statsHeader(std::uint32_t index) {
        if_stats_msg header{};
        header.ifindex = index;
        header.filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
        return raw(&header, sizeof header);
    }
    NetlinkBuilder& attr(std::uint16_t type, const void* value, std::size_t size) {
        rtattr header{};
        header.rta_len = static_cast<unsigned short>(sizeof header + size);
        header.rta_type = type;
        raw(&header, sizeof header);
        raw(value, size);
        return pad();
    }
    NetlinkBuilder& name(const std::string& text) {
        return attr(IFLA_IFNAME, text.c_str(), text.size() + 1);
    }
    NetlinkBuilder& operState(std::uint8_t state) { return attr(IFLA_OPERSTATE, &state, 1); }
    NetlinkBuilder& stats64(std::uint64_t rx, std::uint64_t tx) {
        rtnl_link_stats64 stats{};
        stats.rx_packets = 1;
        stats.tx_packets = 2;
        stats.rx_bytes = rx;
        stats.tx_bytes = tx;
        return attr(IFLA_STATS_LINK_64, &stats, sizeof stats);
    }
    NetlinkBuilder& done(std::uint32_t seq, std::int32_t status = 0) {
        message(NLMSG_DONE, seq);
        return raw(&status, sizeof status);
    }
    NetlinkBuilder& error(std::uint32_t seq, std::int32_t status) {
        message(NLMSG_ERROR, seq, 0);
        nlmsgerr body{};
        body.error = status;
        return raw(&body, sizeof body);
    }
    NetlinkBuilder& raw(const void* bytes, std::size_t size) {
        const auto* p = static_cast<const unsigned char*>(bytes);
        data_.insert(data_.end(), p, p + size);
        return *this;
    }
    NetlinkBuilder& pad() {
        while (data_.size() % 4)
            data_.push_back(0);
        return *this;
    }
    std::vector<unsigned char> bytes() {
        finish();
        return data_;
    }

  private:
    void finish() {
        if (!open_)
            return;
        pad();
        const auto length = static_cast<std::uint32_t>(data_.size() - start_);
        std::memcpy(data_.data() + start_, &length, sizeof length);
        open_ = false;
    }

    std::vector<unsigned char> data_;
    std::size_t start_ = 0;
    bool open_ = false;
};

}  // namespace koravex::testing
