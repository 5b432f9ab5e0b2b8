#include "core/linux/net_sys_calls.h"

#include <linux/ethtool.h>
#include <linux/netlink.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace koravex::linux_net {
namespace {

constexpr int kReceiveBufferBytes = 1 << 20;  // the kernel caps it at rmem_max

bool fillRequest(ifreq& request, const std::string& name) {
    std::memset(&request, 0, sizeof request);
    if (name.empty() || name.size() >= sizeof request.ifr_name)
        return false;
    std::memcpy(request.ifr_name, name.data(), name.size());
    return true;
}

}  // namespace

SystemNetSysCalls::SystemNetSysCalls(std::string sysRoot) : sysRoot_(std::move(sysRoot)) {}

SystemNetSysCalls::~SystemNetSysCalls() {
    if (ioctlFd_ >= 0)
        ::close(ioctlFd_);
}

int SystemNetSysCalls::openRoute(std::uint32_t groups) {
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0)
        return -errno;
    // Room for a burst of link events; dumps are paced by the kernel and work with any size,
    // so a lower cap (rmem_max) is no failure.
    int size = kReceiveBufferBytes;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    // A dump reply that never comes must not hold the caller for ever.
    timeval timeout{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);

    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = groups;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int error = errno;
        ::close(fd);
        return -error;
    }
    return fd;
}

void SystemNetSysCalls::close(int fd) {
    if (fd >= 0)
        ::close(fd);
}

int SystemNetSysCalls::send(int fd, std::span<const unsigned char> request) {
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    for (;;) {
        const ssize_t sent = ::sendto(fd, request.data(), request.size(), 0,
                                      reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel);
        if (sent >= 0)
            return static_cast<std::size_t>(sent) == request.size() ? 0 : -EIO;
        if (errno != EINTR)
            return -errno;
    }
}

ssize_t SystemNetSysCalls::receive(int fd, std::span<unsigned char> buffer, bool wait,
                                   std::uint32_t& sender) {
    for (;;) {
        sockaddr_nl from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got =
            ::recvfrom(fd, buffer.data(), buffer.size(), MSG_TRUNC | (wait ? 0 : MSG_DONTWAIT),
                       reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got >= 0) {
            sender = fromLength >= sizeof from ? from.nl_pid : ~std::uint32_t{0};
            return got;
        }
        if (errno != EINTR)
            return -errno;
    }
}

std::optional<std::uint32_t> SystemNetSysCalls::linkSpeedMbps(const std::string& name) {
    ifreq request;
    if (!fillRequest(request, name))
        return std::nullopt;
    if (ioctlFd_ < 0) {
        ioctlFd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (ioctlFd_ < 0)
            return std::nullopt;
    }

    // ETHTOOL_GLINKSETTINGS: the first call, with no mask words, tells how many the kernel
    // wants (as a negative count); the second returns the settings. The header is copied in
    // and out of a byte buffer that also holds the masks.
    alignas(ethtool_link_settings) unsigned char
        buffer[sizeof(ethtool_link_settings) + 3 * 128 * sizeof(std::uint32_t)] = {};
    ethtool_link_settings settings{};
    settings.cmd = ETHTOOL_GLINKSETTINGS;
    std::memcpy(buffer, &settings, sizeof settings);
    request.ifr_data = reinterpret_cast<char*>(buffer);
    if (::ioctl(ioctlFd_, SIOCETHTOOL, &request) == 0) {
        std::memcpy(&settings, buffer, sizeof settings);
        if (settings.link_mode_masks_nwords < 0) {
            const auto words = static_cast<std::int8_t>(-settings.link_mode_masks_nwords);
            settings = ethtool_link_settings{};
            settings.cmd = ETHTOOL_GLINKSETTINGS;
            settings.link_mode_masks_nwords = words;
            std::memset(buffer, 0, sizeof buffer);
            std::memcpy(buffer, &settings, sizeof settings);
            if (::ioctl(ioctlFd_, SIOCETHTOOL, &request) == 0) {
                std::memcpy(&settings, buffer, sizeof settings);
                if (settings.link_mode_masks_nwords == words)
                    return settings.speed;
            }
        }
    }

    ethtool_cmd legacy{};
    legacy.cmd = ETHTOOL_GSET;
    request.ifr_data = reinterpret_cast<char*>(&legacy);
    if (::ioctl(ioctlFd_, SIOCETHTOOL, &request) != 0)
        return std::nullopt;
    return static_cast<std::uint32_t>(legacy.speed_hi) << 16 | legacy.speed;
}

bool SystemNetSysCalls::isWireless(const std::string& name) {
    // The name comes from the kernel, but is still kept from walking out of the directory.
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        return false;
    }
    const std::string base = sysRoot_ + "/class/net/" + name;
    struct stat info;
    return ::stat((base + "/wireless").c_str(), &info) == 0 ||
           ::stat((base + "/phy80211").c_str(), &info) == 0;
}

}  // namespace koravex::linux_net
