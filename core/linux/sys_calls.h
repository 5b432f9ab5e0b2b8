#pragma once
// The narrow seam between the Linux backend and the kernel: every file, filesystem and
// address-space call the backend makes goes through here, so that tests can run it on
// fixture trees and inject faults (EIO, ENOENT, a call that never returns).
#include <sys/statvfs.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace koravex {

// Label and UUID read straight from a device's superblock.
struct ProbedVolume {
    std::string label;
    std::string uuid;
};

class SysCalls {
  public:
    virtual ~SysCalls() = default;

    // Each returns -1 (or nullopt) and leaves errno set on failure, like libc.
    virtual int openRead(const std::string& path);
    virtual ssize_t pread(int fd, char* buf, std::size_t size, off_t offset);
    virtual void close(int fd);
    // True when a kept /proc mount-table descriptor reports that the table changed.
    virtual bool mountTableChanged(int fd);
    // True when fd is a file of the proc filesystem (whose poll tells about mount changes).
    virtual bool isProcFile(int fd);
    virtual int statvfs(const std::string& path, struct statvfs& out);
    virtual std::optional<std::string> readLink(const std::string& path);
    virtual std::optional<std::vector<std::string>> listDir(const std::string& path);
    virtual std::optional<std::string> currentDir();
    // Soft RLIMIT_AS, nullopt when unlimited.
    virtual std::optional<std::uint64_t> addressSpaceLimit();
    virtual std::uint64_t pageSize();
    // Whether one page can be mapped at addr (probes how far the user address space reaches).
    virtual bool canMapAt(std::uint64_t addr);
    // Label and UUID from the device itself (libblkid), nullopt when unreadable or unknown.
    virtual std::optional<ProbedVolume> probeDevice(const std::string& devicePath);
    // The drive launcher's and helpers' calls: a close-on-exec AF_UNIX SOCK_SEQPACKET pair,
    // a fork, and one record sent without waiting (MSG_NOSIGNAL | MSG_DONTWAIT).
    virtual int socketPair(int sv[2]);
    virtual pid_t fork();
    virtual ssize_t sendRecord(int fd, const char* data, std::size_t size);

    // Whole small file through openRead/pread/close; nullopt on any error or above maxBytes.
    std::optional<std::string> readFile(const std::string& path, std::size_t maxBytes = 1 << 20);
    // Whole file from an open descriptor, from offset 0.
    std::optional<std::string> readAll(int fd, std::size_t maxBytes = 1 << 20);
};

// The process-wide forwarding instance.
SysCalls& defaultSysCalls();

}  // namespace koravex
