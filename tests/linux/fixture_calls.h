#pragma once
// Test seam for the Linux backend: file reads go to a copy of a fixture tree, while
// statvfs, the address-space probe, the device probe and the current directory are
// scripted. Faults are injected per path.
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "core/linux/linux_probes.h"
#include "core/linux/sys_calls.h"

namespace koravex::test {

inline struct statvfs makeVfs(std::uint64_t blocks, std::uint64_t bfree, std::uint64_t bavail,
                              unsigned long frsize = 4096, unsigned long fsid = 0) {
    struct statvfs st {};
    st.f_bsize = frsize;
    st.f_frsize = frsize;
    st.f_blocks = blocks;
    st.f_bfree = bfree;
    st.f_bavail = bavail;
    st.f_fsid = fsid;
    return st;
}

class FixtureCalls : public SysCalls {
  public:
    struct Fs {
        struct statvfs st {};
        int error = 0;       // statvfs fails with this errno
        bool block = false;  // statvfs waits until release()
    };

    std::map<std::string, Fs> filesystems;        // by mount point
    std::map<std::string, ProbedVolume> devices;  // by device path
    std::map<std::string, int> openErrors;        // path suffix -> errno
    std::map<std::string, int> readErrors;        // path suffix -> errno
    std::optional<std::string> cwd = std::string("/");
    std::uint64_t mapLimit = std::uint64_t{1} << 47;  // pages below this can be mapped
    std::optional<std::uint64_t> asLimit;
    std::atomic<int> statvfsCalls{0};
    std::atomic<int> blockedNow{0};
    std::atomic<int> probeCalls{0};

    ~FixtureCalls() override {
        release();
        // A stuck call may still be on its way out of statvfs.
        while (blockedNow.load() != 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        cv_.notify_all();
    }

    int openRead(const std::string& path) override {
        for (const auto& [suffix, err] : openErrors) {
            if (path.ends_with(suffix)) {
                errno = err;
                return -1;
            }
        }
        int fd = SysCalls::openRead(path);
        if (fd >= 0) {
            std::lock_guard lock(mutex_);
            fdPaths_[fd] = path;
        }
        return fd;
    }

    ssize_t pread(int fd, char* buf, std::size_t size, off_t offset) override {
        {
            std::lock_guard lock(mutex_);
            auto it = fdPaths_.find(fd);
            for (const auto& [suffix, err] : readErrors) {
                if (it != fdPaths_.end() && it->second.ends_with(suffix)) {
                    errno = err;
                    return -1;
                }
            }
        }
        return SysCalls::pread(fd, buf, size, offset);
    }

    int statvfs(const std::string& path, struct statvfs& out) override {
        ++statvfsCalls;
        std::unique_lock lock(mutex_);
        auto it = filesystems.find(path);
        if (it == filesystems.end()) {
            errno = ENOENT;
            return -1;
        }
        if (it->second.block) {
            ++blockedNow;
            cv_.wait_for(lock, std::chrono::seconds(20), [&] { return released_; });
            --blockedNow;
        }
        if (it->second.error != 0) {
            errno = it->second.error;
            return -1;
        }
        out = it->second.st;
        return 0;
    }

    std::optional<std::string> currentDir() override { return cwd; }
    std::optional<std::uint64_t> addressSpaceLimit() override { return asLimit; }
    std::uint64_t pageSize() override { return 4096; }
    bool canMapAt(std::uint64_t addr) override { return addr < mapLimit; }
    std::optional<ProbedVolume> probeDevice(const std::string& path) override {
        ++probeCalls;
        auto it = devices.find(path);
        if (it == devices.end()) {
            return std::nullopt;
        }
        return it->second;
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool released_ = false;
    std::map<int, std::string> fdPaths_;
};

// A private copy of a fixture tree that a test may change.
class TempMachine {
  public:
    explicit TempMachine(const std::string& fixture) {
        namespace fs = std::filesystem;
        char tmpl[] = "/tmp/koravex-fixture.XXXXXX";
        dir_ = ::mkdtemp(tmpl);
        fs::copy(fs::path(KORAVEX_FIXTURES) / fixture, dir_,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
    ~TempMachine() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    TempMachine(const TempMachine&) = delete;
    TempMachine& operator=(const TempMachine&) = delete;

    LinuxRoots roots() const {
        return LinuxRoots{dir_ + "/proc", dir_ + "/sys", dir_ + "/dev/disk", dir_ + "/run/udev"};
    }
    std::string path(const std::string& rel) const { return dir_ + "/" + rel; }
    // Rewrites a file in place (a kept descriptor sees the new text).
    void write(const std::string& rel, const std::string& text) const {
        std::ofstream(path(rel), std::ios::trunc) << text;
    }
    std::string read(const std::string& rel) const {
        std::ifstream in(path(rel));
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void remove(const std::string& rel) const { std::filesystem::remove_all(path(rel)); }

  private:
    std::string dir_;
};

}  // namespace koravex::test
