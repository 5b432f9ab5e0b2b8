#include "core/windows/win_calls.h"

#include <winnetwk.h>

namespace koravex::win {
namespace {

class SystemCalls final : public WinCalls {
  public:
    BOOL globalMemoryStatusEx(MEMORYSTATUSEX* status) override {
        return ::GlobalMemoryStatusEx(status);
    }
    DWORD getLogicalDriveStrings(DWORD length, wchar_t* buffer) override {
        return ::GetLogicalDriveStringsW(length, buffer);
    }
    UINT getDriveType(const wchar_t* root) override { return ::GetDriveTypeW(root); }
    BOOL getDiskFreeSpaceEx(const wchar_t* root, ULARGE_INTEGER* freeToCaller,
                            ULARGE_INTEGER* total, ULARGE_INTEGER* totalFree) override {
        return ::GetDiskFreeSpaceExW(root, freeToCaller, total, totalFree);
    }
    BOOL getVolumeInformation(const wchar_t* root, wchar_t* name, DWORD nameLength, DWORD* serial,
                              DWORD* maxComponent, DWORD* flags, wchar_t* fileSystem,
                              DWORD fileSystemLength) override {
        return ::GetVolumeInformationW(root, name, nameLength, serial, maxComponent, flags,
                                       fileSystem, fileSystemLength);
    }
    DWORD wnetGetConnection(const wchar_t* local, wchar_t* remote, DWORD* length) override {
        return ::WNetGetConnectionW(local, remote, length);
    }
    DWORD getCurrentDirectory(DWORD length, wchar_t* buffer) override {
        return ::GetCurrentDirectoryW(length, buffer);
    }
    DWORD getIfTable2(MIB_IF_TABLE2** table) override { return ::GetIfTable2(table); }
    void freeMibTable(void* table) override { ::FreeMibTable(table); }
    BOOL setThreadErrorMode(DWORD mode, DWORD* oldMode) override {
        return ::SetThreadErrorMode(mode, oldMode);
    }
};

}  // namespace

WinCalls& systemWinCalls() {
    // Never destroyed: a worker stuck in a drive call may still use it while the process ends.
    static SystemCalls* calls = new SystemCalls;
    return *calls;
}

}  // namespace koravex::win
