#include "core/linux/linux_probes.h"

#include <algorithm>
#include <cerrno>
#include <limits>

#include "core/budgeted_probes.h"
#include "core/drive_root.h"
#include "core/linux/address_space.h"
#include "core/linux/drive_helper.h"
#include "core/linux/interface_reader.h"
#include "core/linux/meminfo_parse.h"
#include "core/linux/mountinfo_parse.h"
#include "core/linux/volume_parse.h"

namespace koravex {

LinuxProbes::LinuxProbes(LinuxRoots roots, SysCalls& calls)
    : roots_(std::move(roots)),
      calls_(calls),
      answerer_(calls, roots_),
      meminfoPath_(roots_.proc + "/meminfo"),
      statmPath_(roots_.proc + "/self/statm") {
    pageSize_ = calls_.pageSize();
    addressSpace_ = userAddressSpace(calls_);
    interfaces_ = std::make_unique<InterfaceReader>(roots_.sys);
}

LinuxProbes::~LinuxProbes() {
    for (int fd : {mountsFd_, meminfoFd_, statmFd_}) {
        if (fd >= 0) {
            calls_.close(fd);
        }
    }
}

// One pread from offset 0 on a kept descriptor, opened on first use and again after an
// error. Files longer than the buffer are read whole the slow way.
std::optional<std::string> LinuxProbes::readKept(int& fd, const std::string& path, char* buf,
                                                 std::size_t size) {
    if (fd < 0) {
        fd = calls_.openRead(path);
        if (fd < 0) {
            return std::nullopt;
        }
    }
    ssize_t n = calls_.pread(fd, buf, size, 0);
    std::optional<std::string> text;
    if (n >= 0 && static_cast<std::size_t>(n) < size) {
        text.emplace(buf, static_cast<std::size_t>(n));
    } else if (n >= 0) {
        text = calls_.readAll(fd);
    }
    if (!text) {
        calls_.close(fd);
        fd = -1;
    }
    return text;
}

MemoryStatus LinuxProbes::memoryStatus() {
    char buf[8192];
    MemoryStatus m;
    if (auto text = readKept(meminfoFd_, meminfoPath_, buf, sizeof buf)) {
        m = memoryFromMeminfo(parseMeminfo(*text));
    }
    m.totalVirtual = addressSpace_;
    if (auto text = readKept(statmFd_, statmPath_, buf, sizeof buf)) {
        if (auto used = parseStatmSize(*text, pageSize_)) {
            m.availVirtual = *used < addressSpace_ ? addressSpace_ - *used : 0;
        }
    }
    return m;
}

void LinuxProbes::refreshMounts() {
    if (mountsFd_ < 0) {
        mountsFd_ = calls_.openRead(roots_.proc + "/self/mountinfo");
        if (mountsFd_ < 0) {
            return;  // the last table read stays in force
        }
        mountsPollable_ = calls_.isProcFile(mountsFd_);
        mountsRead_ = false;
    }
    // The kernel flags a kept mountinfo descriptor when the table changes; other files
    // (fixtures) cannot say, so they are read every time. All queries of one round (a
    // refresh, the drive list) share one look, however long reading a table of thousands
    // of mounts takes: a table that changes all the time is read once per round, not once
    // per drive. Callers that name no rounds share one look per kMountPollInterval.
    if (mountsRead_ && mountsPollable_) {
        auto now = std::chrono::steady_clock::now();
        const auto interval = roundsNamed_ ? kRoundlessLook : kMountPollInterval;
        if (!lookDue_ && now - lastMountPoll_ < interval) {
            return;
        }
        lookDue_ = false;
        lastMountPoll_ = now;
        if (!calls_.mountTableChanged(mountsFd_)) {
            return;
        }
    }
    auto length = readMountTable();
    if (!length) {
        calls_.close(mountsFd_);
        mountsFd_ = -1;
        return;
    }
    if (!parseMountinfoInPlace(mountsText_.data(), *length, mountEntries_)) {
        mountsRead_ = false;  // try again next time rather than wait for another change
        return;
    }
    rebuildDrives(mountEntries_);
    mountsRead_ = true;
    lookDue_ = false;
    lastMountPoll_ = std::chrono::steady_clock::now();
}

// The whole table from offset 0 into mountsText_, which only ever grows (up to 16 MiB): the
// kernel hands out a page or so per call, and each call fills what is left of the buffer.
std::optional<std::size_t> LinuxProbes::readMountTable() {
    constexpr std::size_t kMax = 16u << 20;
    std::size_t length = 0;
    for (;;) {
        if (length == mountsText_.size()) {
            if (mountsText_.size() >= kMax) {
                errno = EFBIG;
                return std::nullopt;
            }
            mountsText_.resize(std::min(kMax, std::max<std::size_t>(65536, length * 2)));
        }
        ssize_t n = calls_.pread(mountsFd_, mountsText_.data() + length,
                                 mountsText_.size() - length, static_cast<off_t>(length));
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            return length;
        }
        length += static_cast<std::size_t>(n);
    }
}

void LinuxProbes::rebuildDrives(const std::vector<MountEntry>& table) {
    std::vector<DriveCandidate> candidates = selectDrives(table, opticalDevices());
    std::vector<char> letters = letters_.assign(candidates);
    drives_.clear();
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (letters[i] != '\0') {
            auto d = std::make_shared<Drive>();
            d->letter = letters[i];
            d->type = typeOf(candidates[i]);
            d->where = std::move(candidates[i]);
            drives_.push_back(std::move(d));
        }
    }
    std::sort(drives_.begin(), drives_.end(),
              [](const auto& a, const auto& b) { return a->letter < b->letter; });
    byLetter_.fill(0);
    for (std::size_t i = 0; i < drives_.size(); ++i)
        byLetter_[static_cast<std::size_t>(drives_[i]->letter - 'A')] = static_cast<int>(i) + 1;
}

void LinuxProbes::beginDriveRound(const std::vector<std::string>& roots) {
    (void)roots;
    roundsNamed_ = true;
    lookDue_ = true;
}

std::shared_ptr<const LinuxProbes::Drive> LinuxProbes::findDrive(std::string_view root) {
    char letter = rootLetter(root);
    if (letter == '\0') {
        return nullptr;
    }
    refreshMounts();
    const int at = byLetter_[static_cast<std::size_t>(letter - 'A')];
    if (at == 0) {
        return nullptr;
    }
    return drives_[static_cast<std::size_t>(at - 1)];
}

std::optional<DriveCandidate> LinuxProbes::locate(std::string_view root) {
    auto d = findDrive(root);
    if (!d) {
        return std::nullopt;
    }
    // A question needs the drive's first mount point alone, not every bind mount of it.
    const DriveCandidate& w = d->where;
    DriveCandidate c;
    c.key = w.key;
    c.kind = w.kind;
    c.isRoot = w.isRoot;
    c.mounted = w.mounted;
    c.mountId = w.mountId;
    c.major = w.major;
    c.minor = w.minor;
    c.fsType = w.fsType;
    c.source = w.source;
    if (!w.mountPoints.empty())
        c.mountPoints.push_back(w.mountPoints.front());
    return c;
}

std::optional<DriveSpace> LinuxProbes::driveSpace(std::string_view root) {
    auto d = findDrive(root);
    return d ? answerer_.answer(d->where).space : std::nullopt;
}

std::optional<VolumeInfo> LinuxProbes::volumeInformation(std::string_view root) {
    auto d = findDrive(root);
    return d ? answerer_.answer(d->where).volume : std::nullopt;
}

std::vector<std::string> LinuxProbes::driveRoots() {
    refreshMounts();
    std::vector<std::string> roots;
    roots.reserve(drives_.size());
    for (const auto& d : drives_) {
        roots.push_back(std::string{d->letter, ':', '\\'});
    }
    return roots;
}

DriveType LinuxProbes::driveType(std::string_view root) {
    auto d = findDrive(root);
    return d ? d->type : DriveType::NoRootDir;
}

std::optional<std::string> LinuxProbes::remoteName(std::string_view root) {
    auto d = findDrive(root);
    if (!d || d->where.kind != DriveKind::Network) {
        return std::nullopt;
    }
    return d->where.source;
}

std::optional<std::vector<InterfaceRow>> LinuxProbes::interfaceTable() {
    return interfaces_->read();
}

char LinuxProbes::currentDirectoryDrive() {
    refreshMounts();
    auto cwd = calls_.currentDir();
    if (!cwd) {
        return '\0';
    }
    char letter = '\0';
    std::size_t best = 0;
    for (const auto& d : drives_) {
        for (const auto& point : d->where.mountPoints) {
            if (pathWithin(*cwd, point) && (letter == '\0' || point.size() > best)) {
                letter = d->letter;
                best = point.size();
            }
        }
    }
    return letter;
}

std::unique_ptr<Probes> makeLinuxProbes() {
    auto table = std::make_unique<LinuxProbes>();
    auto asker = std::make_unique<HelperDriveAsker>(*table, processDriveHelpers());
    return std::make_unique<BudgetedProbes>(std::move(table), std::move(asker));
}

}  // namespace koravex
