#include "core/linux/interface_reader.h"

#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace koravex {
namespace {

using linux_net::DumpProgress;
using linux_net::DumpState;
using linux_net::LinkRecord;
using linux_net::StatsRecord;

constexpr std::size_t kInitialBuffer = 64 * 1024;  // above the kernel's 32 KiB dump messages
constexpr std::size_t kMaxBuffer = 4 * 1024 * 1024;
constexpr int kDumpAttempts = 3;  // an inconsistent or cut dump is asked again
constexpr int kMaxDatagramsPerDump = 1 << 20;
constexpr int kMaxEventDatagrams = 4096;  // beyond this, one fresh dump is cheaper

template <class T>
void append(std::vector<unsigned char>& out, const T& value) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
    out.insert(out.end(), bytes, bytes + sizeof value);
}

std::vector<unsigned char> makeRequest(std::uint16_t type, const void* body, std::size_t bodySize) {
    nlmsghdr header{};
    header.nlmsg_type = type;
    header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    std::vector<unsigned char> request;
    append(request, header);
    const auto* bytes = static_cast<const unsigned char*>(body);
    request.insert(request.end(), bytes, bytes + bodySize);
    return request;
}

void finishRequest(std::vector<unsigned char>& request, std::uint32_t seq) {
    const auto length = static_cast<std::uint32_t>(request.size());
    std::memcpy(request.data() + offsetof(nlmsghdr, nlmsg_len), &length, sizeof length);
    std::memcpy(request.data() + offsetof(nlmsghdr, nlmsg_seq), &seq, sizeof seq);
}

}  // namespace

InterfaceReader::InterfaceReader(std::string sysRoot)
    : InterfaceReader(std::make_unique<linux_net::SystemNetSysCalls>(std::move(sysRoot))) {}

InterfaceReader::InterfaceReader(std::unique_ptr<linux_net::NetSysCalls> sys)
    : sys_(std::move(sys)), buffer_(kInitialBuffer) {
    // Link dump without statistics: the counters come from the statistics dump, and leaving
    // them out makes the link reply several times smaller.
    struct {
        ifinfomsg info;
        rtattr maskHeader;
        std::uint32_t mask;
    } link{};
    link.info.ifi_family = AF_UNSPEC;
    link.maskHeader.rta_len = RTA_LENGTH(sizeof(std::uint32_t));
    link.maskHeader.rta_type = IFLA_EXT_MASK;
    link.mask = RTEXT_FILTER_SKIP_STATS;
    linkRequest_ = makeRequest(RTM_GETLINK, &link, sizeof link);

    if_stats_msg stats{};
    stats.family = AF_UNSPEC;
    stats.filter_mask = IFLA_STATS_FILTER_BIT(IFLA_STATS_LINK_64);
    statsRequest_ = makeRequest(RTM_GETSTATS, &stats, sizeof stats);
}

InterfaceReader::~InterfaceReader() {
    closeSockets();
}

bool InterfaceReader::openSockets() {
    // The event socket first: a change between the link dump and the subscription would
    // otherwise be missed.
    // Without events the links are dumped at every refresh. A socket that could not be had
    // is asked for again only with a new query socket or after it was lost.
    if (eventFd_ < 0 && (queryFd_ < 0 || reopenEvents_)) {
        reopenEvents_ = false;
        const int fd = sys_->openRoute(RTMGRP_LINK);
        if (fd >= 0) {
            eventFd_ = fd;
            linksValid_ = false;  // what changed before it listened is not known
        }
    }
    if (queryFd_ < 0) {
        const int fd = sys_->openRoute(0);
        if (fd < 0)
            return false;
        queryFd_ = fd;
    }
    return true;
}

void InterfaceReader::closeSockets() {
    if (queryFd_ >= 0)
        sys_->close(queryFd_);
    if (eventFd_ >= 0)
        sys_->close(eventFd_);
    queryFd_ = eventFd_ = -1;
    linksValid_ = false;  // events may be missed while no socket listens
}

std::optional<std::vector<InterfaceRow>> InterfaceReader::read() {
    if (!openSockets()) {
        closeSockets();
        return std::nullopt;
    }
    bool linksFresh = false;
    const bool eventsKept = eventFd_ >= 0 && drainEvents();
    if (!linksValid_ || !eventsKept) {
        if (!dumpLinks()) {
            closeSockets();
            return std::nullopt;
        }
        linksFresh = true;
    }
    if (!dumpStats()) {
        closeSockets();
        return std::nullopt;
    }
    if (!linksFresh && !countersMatchLinks()) {
        // An interface came or went without an event that said so: read the links again.
        if (!dumpLinks()) {
            closeSockets();
            return std::nullopt;
        }
    }

    std::vector<InterfaceRow> rows;
    rows.reserve(stats_.size());
    auto link = links_.begin();
    for (const StatsRecord& stats : stats_) {
        while (link != links_.end() && link->index < stats.index)
            ++link;
        if (link == links_.end())
            break;
        if (link->index != stats.index)
            continue;  // appeared after the link dump
        InterfaceRow& row = rows.emplace_back();
        row.index = link->index;
        row.description = link->name;
        row.type = linux_net::ianaType(link->arphrd, link->wireless);
        row.speed = link->speed;
        row.operStatus = linux_net::operStatus(link->operState, link->flags);
        row.inOctets = stats.rxBytes;
        row.outOctets = stats.txBytes;
    }
    return rows;
}

bool InterfaceReader::drainEvents() {
    bool kept = true;
    for (int i = 0; i < kMaxEventDatagrams; ++i) {
        std::uint32_t sender = 0;
        const ssize_t got = sys_->receive(eventFd_, buffer_, false, sender);
        if (got == -EAGAIN || got == -EWOULDBLOCK)
            return kept;
        if (got == -ENOBUFS) {  // events were dropped: drain the rest, then dump afresh
            kept = false;
            continue;
        }
        if (got < 0) {  // the event socket is lost: dump the links, ask for a new one next time
            sys_->close(eventFd_);
            eventFd_ = -1;
            reopenEvents_ = true;
            return false;
        }
        if (sender != 0)
            continue;  // only the kernel speaks for the links
        if (static_cast<std::size_t>(got) > buffer_.size()) {
            buffer_.resize(std::min(static_cast<std::size_t>(got), kMaxBuffer));
            kept = false;
            continue;
        }
        linkRecords_.clear();
        const bool wellFormed = linux_net::parseLinkEvents(
            std::span<const unsigned char>(buffer_.data(), static_cast<std::size_t>(got)),
            linkRecords_);
        if (!wellFormed)
            kept = false;
        if (kept) {
            bool redump = false;
            for (const LinkRecord& event : linkRecords_)
                applyEvent(event, redump);
            if (redump)
                kept = false;
        }
    }
    return false;
}

void InterfaceReader::applyEvent(const LinkRecord& event, bool& redump) {
    auto it =
        std::lower_bound(links_.begin(), links_.end(), event.index,
                         [](const Link& link, std::uint32_t index) { return link.index < index; });
    const bool known = it != links_.end() && it->index == event.index;
    if (event.deleted) {
        if (known)
            links_.erase(it);
        return;
    }
    if (!event.named) {
        // Wireless-extension events carry the flags alone.
        if (!known) {
            redump = true;
            return;
        }
        if (it->flags != event.flags) {
            it->flags = event.flags;
            lookUp(*it, false);
        }
        return;
    }
    if (!known) {
        Link link{event.index, event.name, event.arphrd, event.flags, event.operState, false, 0};
        lookUp(link, true);
        links_.insert(it, std::move(link));
        return;
    }
    const bool identity = it->name != event.name || it->arphrd != event.arphrd;
    const bool state = it->flags != event.flags || it->operState != event.operState;
    it->name = event.name;
    it->arphrd = event.arphrd;
    it->flags = event.flags;
    it->operState = event.operState;
    if (identity || state)
        lookUp(*it, identity);
}

void InterfaceReader::lookUp(Link& link, bool identity) {
    if (identity)
        link.wireless = sys_->isWireless(link.name);
    link.speed = linux_net::speedBits(sys_->linkSpeedMbps(link.name));
}

bool InterfaceReader::dumpLinks() {
    if (!dump(linkRequest_, linkRecords_, linux_net::parseLinkDump))
        return false;

    std::stable_sort(linkRecords_.begin(), linkRecords_.end(),
                     [](const LinkRecord& a, const LinkRecord& b) { return a.index < b.index; });
    std::vector<Link> fresh;
    fresh.reserve(linkRecords_.size());
    auto old = links_.begin();
    for (const LinkRecord& record : linkRecords_) {
        if (!fresh.empty() && fresh.back().index == record.index)
            continue;  // repeated
        Link link{
            record.index, record.name, record.arphrd, record.flags, record.operState, false, 0};
        while (old != links_.end() && old->index < record.index)
            ++old;
        const bool same = linksValid_ && old != links_.end() && old->index == record.index;
        const bool sameIdentity = same && old->name == link.name && old->arphrd == link.arphrd;
        if (sameIdentity && old->flags == link.flags && old->operState == link.operState) {
            link.wireless = old->wireless;
            link.speed = old->speed;
        } else if (sameIdentity) {
            link.wireless = old->wireless;
            lookUp(link, false);
        } else {
            lookUp(link, true);
        }
        fresh.push_back(std::move(link));
    }
    links_ = std::move(fresh);
    linksValid_ = true;
    return true;
}

bool InterfaceReader::dumpStats() {
    if (!dump(statsRequest_, stats_, linux_net::parseStatsDump))
        return false;
    // The kernel gives ifindex order; a stable sort keeps that cheap and guarantees it.
    if (!std::is_sorted(
            stats_.begin(), stats_.end(),
            [](const StatsRecord& a, const StatsRecord& b) { return a.index < b.index; })) {
        std::stable_sort(
            stats_.begin(), stats_.end(),
            [](const StatsRecord& a, const StatsRecord& b) { return a.index < b.index; });
    }
    // A repeated index (possible in an interrupted dump) keeps its first record.
    stats_.erase(
        std::unique(stats_.begin(), stats_.end(),
                    [](const StatsRecord& a, const StatsRecord& b) { return a.index == b.index; }),
        stats_.end());
    return true;
}

template <class Record, class Parser>
bool InterfaceReader::dump(std::vector<unsigned char>& request, std::vector<Record>& out,
                           Parser parse) {
    for (int attempt = 0; attempt < kDumpAttempts; ++attempt) {
        out.clear();
        const std::uint32_t seq = ++seq_;
        finishRequest(request, seq);
        if (sys_->send(queryFd_, request) != 0)
            return false;

        bool interrupted = false;
        bool retry = false;
        for (int i = 0; i < kMaxDatagramsPerDump && !retry; ++i) {
            std::uint32_t sender = 0;
            const ssize_t got = sys_->receive(queryFd_, buffer_, true, sender);
            if (got <= 0)
                return false;
            if (sender != 0)
                continue;
            if (static_cast<std::size_t>(got) > buffer_.size()) {
                // Part of the reply is lost: ask again with room for it. The rest of this
                // dump is skipped by its sequence number.
                if (static_cast<std::size_t>(got) > kMaxBuffer)
                    return false;
                buffer_.resize(static_cast<std::size_t>(got));
                retry = true;
                break;
            }
            const DumpProgress progress =
                parse(std::span<const unsigned char>(buffer_.data(), static_cast<std::size_t>(got)),
                      seq, out, interrupted);
            switch (progress.state) {
                case DumpState::More:
                    break;
                case DumpState::Done:
                    return true;
                case DumpState::Interrupted:
                    retry = true;
                    break;
                case DumpState::Failed:
                    return false;
            }
        }
        if (!retry)
            return false;
    }
    return false;
}

bool InterfaceReader::countersMatchLinks() const {
    return std::equal(stats_.begin(), stats_.end(), links_.begin(), links_.end(),
                      [](const StatsRecord& s, const Link& l) { return s.index == l.index; });
}

}  // namespace koravex
