#include "core/linux/sys_calls.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#ifdef KORAVEX_HAVE_BLKID
#include <blkid/blkid.h>
#endif

namespace koravex {

int SysCalls::openRead(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

ssize_t SysCalls::pread(int fd, char* buf, std::size_t size, off_t offset) {
    ssize_t n;
    do {
        n = ::pread(fd, buf, size, offset);
    } while (n < 0 && errno == EINTR);
    return n;
}

void SysCalls::close(int fd) {
    ::close(fd);
}

bool SysCalls::mountTableChanged(int fd) {
    pollfd p{fd, POLLPRI, 0};
    int r = ::poll(&p, 1, 0);
    // An error on poll says nothing certain: read the table again to be safe.
    return r != 0 && (r < 0 || (p.revents & (POLLPRI | POLLERR | POLLNVAL)) != 0);
}

bool SysCalls::isProcFile(int fd) {
    struct statfs s {};
    return ::fstatfs(fd, &s) == 0 && s.f_type == PROC_SUPER_MAGIC;
}

int SysCalls::statvfs(const std::string& path, struct statvfs& out) {
    return ::statvfs(path.c_str(), &out);
}

int SysCalls::socketPair(int sv[2]) {
    return ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv);
}

pid_t SysCalls::fork() {
    return ::fork();
}

ssize_t SysCalls::sendRecord(int fd, const char* data, std::size_t size) {
    ssize_t n;
    do {
        n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    return n;
}

std::optional<std::string> SysCalls::readLink(const std::string& path) {
    char buf[PATH_MAX];
    ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof buf) {
        return std::nullopt;
    }
    return std::string(buf, static_cast<std::size_t>(n));
}

std::optional<std::vector<std::string>> SysCalls::listDir(const std::string& path) {
    DIR* d = ::opendir(path.c_str());
    if (d == nullptr) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") {
            names.push_back(std::move(name));
        }
    }
    ::closedir(d);
    return names;
}

std::optional<std::string> SysCalls::currentDir() {
    char buf[PATH_MAX];
    if (::getcwd(buf, sizeof buf) == nullptr) {
        return std::nullopt;
    }
    return std::string(buf);
}

std::optional<std::uint64_t> SysCalls::addressSpaceLimit() {
    rlimit r{};
    if (::getrlimit(RLIMIT_AS, &r) != 0 || r.rlim_cur == RLIM_INFINITY) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(r.rlim_cur);
}

std::uint64_t SysCalls::pageSize() {
    long p = ::sysconf(_SC_PAGESIZE);
    return p > 0 ? static_cast<std::uint64_t>(p) : 4096;
}

bool SysCalls::canMapAt(std::uint64_t addr) {
    if (addr > UINTPTR_MAX) {
        return false;
    }
    void* hint = reinterpret_cast<void*>(static_cast<std::uintptr_t>(addr));
    void* p = ::mmap(hint, static_cast<std::size_t>(pageSize()), PROT_NONE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) {
        // Something already lives there: the address is inside the user address space.
        return errno == EEXIST;
    }
    ::munmap(p, static_cast<std::size_t>(pageSize()));
    // Kernels before 4.17 ignore MAP_FIXED_NOREPLACE and may place the page elsewhere.
    return p == hint;
}

std::optional<ProbedVolume> SysCalls::probeDevice(const std::string& devicePath) {
#ifdef KORAVEX_HAVE_BLKID
    blkid_probe pr = blkid_new_probe_from_filename(devicePath.c_str());
    if (pr == nullptr) {
        return std::nullopt;
    }
    blkid_probe_enable_superblocks(pr, 1);
    blkid_probe_set_superblocks_flags(pr, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID);
    std::optional<ProbedVolume> out;
    if (blkid_do_safeprobe(pr) == 0) {
        ProbedVolume v;
        const char* value = nullptr;
        std::size_t len = 0;
        if (blkid_probe_lookup_value(pr, "LABEL", &value, &len) == 0 && value != nullptr) {
            v.label = value;
        }
        if (blkid_probe_lookup_value(pr, "UUID", &value, &len) == 0 && value != nullptr) {
            v.uuid = value;
        }
        out = std::move(v);
    }
    blkid_free_probe(pr);
    return out;
#else
    (void)devicePath;
    errno = ENOTSUP;
    return std::nullopt;
#endif
}

std::optional<std::string> SysCalls::readAll(int fd, std::size_t maxBytes) {
    std::string text;
    std::size_t chunk = 4096;
    for (;;) {
        std::size_t old = text.size();
        if (old >= maxBytes) {
            errno = EFBIG;
            return std::nullopt;
        }
        text.resize(old + chunk);
        ssize_t n = pread(fd, text.data() + old, chunk, static_cast<off_t>(old));
        if (n < 0) {
            return std::nullopt;
        }
        text.resize(old + static_cast<std::size_t>(n));
        if (n == 0) {
            return text;
        }
        if (chunk < 65536) {
            chunk *= 2;
        }
    }
}

std::optional<std::string> SysCalls::readFile(const std::string& path, std::size_t maxBytes) {
    int fd = openRead(path);
    if (fd < 0) {
        return std::nullopt;
    }
    auto text = readAll(fd, maxBytes);
    int saved = errno;
    close(fd);
    errno = saved;
    return text;
}

SysCalls& defaultSysCalls() {
    static SysCalls calls;
    return calls;
}

}  // namespace koravex
