#pragma once
// The system calls the interface reader makes, behind one narrow interface so that tests can
// answer them with canned netlink replies and inject faults.
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace koravex::linux_net {

class NetSysCalls {
  public:
    virtual ~NetSysCalls() = default;

    // A NETLINK_ROUTE socket joined to the multicast `groups` (0: none), with a large receive
    // buffer where the system allows one. Returns the descriptor or -errno.
    virtual int openRoute(std::uint32_t groups) = 0;
    virtual void close(int fd) = 0;
    // Sends one request to the kernel. Returns 0 or -errno.
    virtual int send(int fd, std::span<const unsigned char> request) = 0;
    // Receives one datagram into `buffer`. Returns the datagram's full length (larger than the
    // buffer when it was cut short) or -errno; `sender` is the sending port (0 is the kernel).
    // `wait` false: returns -EAGAIN at once when nothing is queued.
    virtual ssize_t receive(int fd, std::span<unsigned char> buffer, bool wait,
                            std::uint32_t& sender) = 0;
    // The driver's link speed in Mb/s (ethtool), nullopt when the driver has none to give.
    virtual std::optional<std::uint32_t> linkSpeedMbps(const std::string& name) = 0;
    // Whether the interface is a wireless (802.11) device.
    virtual bool isWireless(const std::string& name) = 0;
};

// The real calls. `sysRoot` is where sysfs is mounted ("/sys"); the ethtool socket is opened
// on first use and kept, in the network namespace of the thread that first asks.
class SystemNetSysCalls final : public NetSysCalls {
  public:
    explicit SystemNetSysCalls(std::string sysRoot = "/sys");
    ~SystemNetSysCalls() override;
    SystemNetSysCalls(const SystemNetSysCalls&) = delete;
    SystemNetSysCalls& operator=(const SystemNetSysCalls&) = delete;

    int openRoute(std::uint32_t groups) override;
    void close(int fd) override;
    int send(int fd, std::span<const unsigned char> request) override;
    ssize_t receive(int fd, std::span<unsigned char> buffer, bool wait,
                    std::uint32_t& sender) override;
    std::optional<std::uint32_t> linkSpeedMbps(const std::string& name) override;
    bool isWireless(const std::string& name) override;

  private:
    std::string sysRoot_;
    int ioctlFd_ = -1;
};

}  // namespace koravex::linux_net
