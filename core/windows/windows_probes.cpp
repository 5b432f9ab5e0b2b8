#include "core/windows/windows_probes.h"

#include <limits>

#include "core/budgeted_probes.h"
#include "core/drive_root.h"
#include "core/windows/bounded_calls.h"
#include "core/windows/interface_rows.h"
#include "core/windows/thread_drive_asker.h"
#include "core/windows/wide_text.h"
#include "core/windows/win_calls.h"

namespace koravex {
namespace {

using win::WinCalls;

// The volume calls of a drive without a medium must fail quietly, not ask the user to
// insert a disk: the thread's critical-error boxes are off for the length of one call.
class NoCriticalErrorBoxes {
  public:
    explicit NoCriticalErrorBoxes(WinCalls& calls) : calls_(calls) {
        restore_ = calls_.setThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX,
                                             &old_) != FALSE;
    }
    ~NoCriticalErrorBoxes() {
        if (restore_)
            calls_.setThreadErrorMode(old_, nullptr);
    }
    NoCriticalErrorBoxes(const NoCriticalErrorBoxes&) = delete;
    NoCriticalErrorBoxes& operator=(const NoCriticalErrorBoxes&) = delete;

  private:
    WinCalls& calls_;
    DWORD old_ = 0;
    bool restore_ = false;
};

// "X:\" as a wide string, or empty when the root is not a drive root the calls can take
// (empty, or holding a NUL that would cut it short).
std::wstring wideRoot(std::string_view root) {
    if (root.empty() || root.find('\0') != std::string_view::npos)
        return {};
    return win::toWide(root);
}

std::int64_t signedCount(const ULARGE_INTEGER& value) {
    constexpr auto kMax = static_cast<ULONGLONG>(std::numeric_limits<std::int64_t>::max());
    return static_cast<std::int64_t>(value.QuadPart > kMax ? kMax : value.QuadPart);
}

// WNetGetConnectionW for "X:", grown once when the name is longer than MAX_PATH.
std::optional<std::string> readRemoteName(WinCalls& calls, std::string_view root) {
    // The network provider wants the local name without the backslash: "X:".
    if (root.size() < 2 || root[1] != ':' || root[0] == '\0')
        return std::nullopt;
    const std::wstring local = win::toWide(root.substr(0, 2));
    std::wstring remote(MAX_PATH + 1, L'\0');
    DWORD length = static_cast<DWORD>(remote.size());
    DWORD result = calls.wnetGetConnection(local.c_str(), remote.data(), &length);
    if (result == ERROR_MORE_DATA && length > remote.size()) {
        remote.assign(length, L'\0');
        result = calls.wnetGetConnection(local.c_str(), remote.data(), &length);
    }
    if (result != NO_ERROR)
        return std::nullopt;
    const std::wstring_view text = win::untilNul(remote.data(), remote.size());
    if (text.empty())
        return std::nullopt;
    return win::toUtf8(text);
}

class WindowsProbes final : public Probes {
  public:
    // With `bound`, the drive type and the remote name are waited for at most that long.
    explicit WindowsProbes(WinCalls& calls,
                           std::optional<std::chrono::milliseconds> bound = std::nullopt)
        : calls_(calls) {
        if (bound) {
            types_.emplace(*bound);
            names_.emplace(*bound);
        }
    }

    MemoryStatus memoryStatus() override {
        MEMORYSTATUSEX status{};
        status.dwLength = sizeof status;
        if (!calls_.globalMemoryStatusEx(&status))
            return {};
        return {status.ullTotalPhys,     status.ullAvailPhys,    status.ullTotalPageFile,
                status.ullAvailPageFile, status.ullTotalVirtual, status.ullAvailVirtual};
    }

    std::optional<DriveSpace> driveSpace(std::string_view root) override {
        const std::wstring path = wideRoot(root);
        if (path.empty())
            return std::nullopt;
        ULARGE_INTEGER freeToCaller{}, total{}, totalFree{};
        BOOL ok;
        {
            NoCriticalErrorBoxes quiet(calls_);
            ok = calls_.getDiskFreeSpaceEx(path.c_str(), &freeToCaller, &total, &totalFree);
        }
        if (!ok)
            return std::nullopt;
        return DriveSpace{signedCount(freeToCaller), signedCount(total), signedCount(totalFree)};
    }

    std::optional<VolumeInfo> volumeInformation(std::string_view root) override {
        const std::wstring path = wideRoot(root);
        if (path.empty())
            return std::nullopt;
        wchar_t name[MAX_PATH + 1] = {};
        wchar_t fileSystem[MAX_PATH + 1] = {};
        DWORD serial = 0, maxComponent = 0, flags = 0;
        BOOL ok;
        {
            NoCriticalErrorBoxes quiet(calls_);
            ok = calls_.getVolumeInformation(path.c_str(), name, MAX_PATH + 1, &serial,
                                             &maxComponent, &flags, fileSystem, MAX_PATH + 1);
        }
        if (!ok)
            return std::nullopt;
        return VolumeInfo{win::toUtf8(win::untilNul(name, MAX_PATH + 1)), serial,
                          win::toUtf8(win::untilNul(fileSystem, MAX_PATH + 1))};
    }

    std::vector<std::string> driveRoots() override {
        // 26 roots of four characters and the closing NUL fit; a longer answer (the size it
        // needs) is asked for once more with room for it.
        std::wstring buffer(256, L'\0');
        DWORD length =
            calls_.getLogicalDriveStrings(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length > buffer.size()) {
            buffer.assign(length + 1, L'\0');
            length =
                calls_.getLogicalDriveStrings(static_cast<DWORD>(buffer.size()), buffer.data());
        }
        std::vector<std::string> roots;
        if (length == 0 || length > buffer.size())
            return roots;
        std::wstring_view rest(buffer.data(), length);
        while (!rest.empty()) {
            const std::size_t end = rest.find(L'\0');
            const std::wstring_view one = rest.substr(0, end);
            if (one.empty())
                break;
            roots.push_back(win::toUtf8(one));
            if (end == std::wstring_view::npos)
                break;
            rest.remove_prefix(end + 1);
        }
        return roots;
    }

    DriveType driveType(std::string_view root) override {
        const std::wstring path = wideRoot(root);
        if (path.empty())
            return DriveType::NoRootDir;
        UINT type = DRIVE_UNKNOWN;
        if (types_) {
            WinCalls& calls = calls_;
            type = types_
                       ->get(driveKey(root),
                             [&calls, path] { return calls.getDriveType(path.c_str()); })
                       .value_or(DRIVE_UNKNOWN);
        } else {
            type = calls_.getDriveType(path.c_str());
        }
        return type <= DRIVE_RAMDISK ? static_cast<DriveType>(type) : DriveType::Unknown;
    }

    std::optional<std::string> remoteName(std::string_view root) override {
        if (!names_)
            return readRemoteName(calls_, root);
        WinCalls& calls = calls_;
        return names_
            ->get(driveKey(root),
                  [&calls, copy = std::string(root)] { return readRemoteName(calls, copy); })
            .value_or(std::nullopt);
    }

    std::optional<std::vector<InterfaceRow>> interfaceTable() override {
        MIB_IF_TABLE2* table = nullptr;
        if (calls_.getIfTable2(&table) != NO_ERROR || table == nullptr) {
            if (table != nullptr)
                calls_.freeMibTable(table);
            return std::nullopt;
        }
        std::vector<InterfaceRow> rows;
        rows.reserve(table->NumEntries);
        for (ULONG i = 0; i < table->NumEntries; ++i)
            rows.push_back(win::interfaceRow(table->Table[i]));
        calls_.freeMibTable(table);
        return rows;
    }

    char currentDirectoryDrive() override {
        std::wstring path(MAX_PATH + 1, L'\0');
        DWORD length = calls_.getCurrentDirectory(static_cast<DWORD>(path.size()), path.data());
        if (length >= path.size()) {  // a longer directory: the size it needs came back
            path.assign(length + 1, L'\0');
            length = calls_.getCurrentDirectory(static_cast<DWORD>(path.size()), path.data());
        }
        if (length < 2 || length >= path.size())
            return '\0';
        // "C:\...": the drive letter. "\\server\share\..." and other paths lie on no drive.
        return driveLetter(std::wstring_view(path.data(), length));
    }

  private:
    WinCalls& calls_;
    std::optional<win::BoundedCalls<UINT>> types_;
    std::optional<win::BoundedCalls<std::optional<std::string>>> names_;
};

}  // namespace

std::unique_ptr<Probes> makeDirectWindowsProbes(win::WinCalls& calls) {
    return std::make_unique<WindowsProbes>(calls);
}

std::unique_ptr<Probes> makeWindowsProbes(win::WinCalls& calls, DriveLimits limits) {
    // The workers' own backend: it holds nothing but the calls, so it is theirs to share.
    auto drives = std::make_shared<WindowsProbes>(calls);
    auto asker = std::make_unique<win::ThreadDriveAsker>([drives](const std::string& root) {
        return DriveAnswer{drives->driveSpace(root), drives->volumeInformation(root)};
    });
    // The drive list and the selector ask types and names on the window's thread: a dead
    // share costs them at most this, once.
    constexpr std::chrono::milliseconds kNameBound{50};
    return std::make_unique<BudgetedProbes>(std::make_unique<WindowsProbes>(calls, kNameBound),
                                            std::move(asker), DriveAnswers::Clock::now, limits);
}

std::unique_ptr<Probes> makeWindowsProbes() {
    return makeWindowsProbes(win::systemWinCalls());
}

}  // namespace koravex
