#pragma once
// Every Windows call the backend makes, behind one small interface, so that tests can make
// any of them fail, answer oddly or block. The real calls are systemWinCalls().
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// The order matters: the interface table needs the IP definitions before the IP helper.
// clang-format off
#include <winsock2.h>
#include <ws2ipdef.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

namespace koravex::win {

class WinCalls {
  public:
    virtual ~WinCalls() = default;

    virtual BOOL globalMemoryStatusEx(MEMORYSTATUSEX* status) = 0;
    virtual DWORD getLogicalDriveStrings(DWORD length, wchar_t* buffer) = 0;
    virtual UINT getDriveType(const wchar_t* root) = 0;
    virtual BOOL getDiskFreeSpaceEx(const wchar_t* root, ULARGE_INTEGER* freeToCaller,
                                    ULARGE_INTEGER* total, ULARGE_INTEGER* totalFree) = 0;
    virtual BOOL getVolumeInformation(const wchar_t* root, wchar_t* name, DWORD nameLength,
                                      DWORD* serial, DWORD* maxComponent, DWORD* flags,
                                      wchar_t* fileSystem, DWORD fileSystemLength) = 0;
    // WNetGetConnectionW: NO_ERROR, ERROR_MORE_DATA (length then holds the size needed), ...
    virtual DWORD wnetGetConnection(const wchar_t* local, wchar_t* remote, DWORD* length) = 0;
    virtual DWORD getCurrentDirectory(DWORD length, wchar_t* buffer) = 0;
    // GetIfTable2; a table it hands out is given back through freeMibTable.
    virtual DWORD getIfTable2(MIB_IF_TABLE2** table) = 0;
    virtual void freeMibTable(void* table) = 0;
    virtual BOOL setThreadErrorMode(DWORD mode, DWORD* oldMode) = 0;
};

WinCalls& systemWinCalls();

}  // namespace koravex::win
