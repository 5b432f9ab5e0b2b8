#pragma once
// The Windows calls as plain answers that a test sets: any call can fail, answer oddly or
// wait. Also records what the backend passed and the thread's error mode during each call.
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/windows/win_calls.h"

namespace koravex::win::testing {

class FakeWinCalls : public WinCalls {
  public:
    // Answers; each left empty fails the call the way Windows does.
    std::function<BOOL(MEMORYSTATUSEX*)> memory;
    std::wstring driveStrings;             // what GetLogicalDriveStringsW writes, NULs included
    DWORD driveStringsResult = ~DWORD{0};  // ~0: the length of driveStrings
    std::function<UINT(const std::wstring&)> type;
    std::function<BOOL(const std::wstring&, ULARGE_INTEGER*, ULARGE_INTEGER*, ULARGE_INTEGER*)>
        space;
    std::function<BOOL(const std::wstring&, wchar_t*, DWORD, DWORD*, wchar_t*, DWORD)> volume;
    std::function<DWORD(const std::wstring&, wchar_t*, DWORD*)> connection;
    std::wstring currentDirectory;  // empty: GetCurrentDirectoryW fails
    std::function<DWORD(MIB_IF_TABLE2**)> ifTable;

    // What the backend did; the drive calls may come from worker threads.
    std::vector<std::wstring> roots;  // every root passed to a drive call, in order
    std::vector<DWORD> modesDuringVolumeCalls;
    int driveStringCalls = 0;
    int tablesFreed = 0;
    std::mutex mutex;  // guards roots, the modes and errorModes

    // The calling thread's error mode, as the backend left it.
    DWORD errorMode() {
        std::lock_guard lock(mutex);
        return errorModes[std::this_thread::get_id()];
    }

    BOOL globalMemoryStatusEx(MEMORYSTATUSEX* status) override {
        return memory ? memory(status) : FALSE;
    }
    DWORD getLogicalDriveStrings(DWORD length, wchar_t* buffer) override {
        ++driveStringCalls;
        const DWORD needed = static_cast<DWORD>(driveStrings.size());
        if (driveStringsResult != ~DWORD{0})
            return driveStringsResult;
        if (needed > length)
            return needed + 1;  // the size it needs, with the closing NUL
        driveStrings.copy(buffer, needed);
        return needed;
    }
    UINT getDriveType(const wchar_t* root) override {
        record(root);
        return type ? type(root) : DRIVE_NO_ROOT_DIR;
    }
    BOOL getDiskFreeSpaceEx(const wchar_t* root, ULARGE_INTEGER* freeToCaller,
                            ULARGE_INTEGER* total, ULARGE_INTEGER* totalFree) override {
        record(root, true);
        return space ? space(root, freeToCaller, total, totalFree) : FALSE;
    }
    BOOL getVolumeInformation(const wchar_t* root, wchar_t* name, DWORD nameLength, DWORD* serial,
                              DWORD*, DWORD*, wchar_t* fileSystem,
                              DWORD fileSystemLength) override {
        record(root, true);
        return volume ? volume(root, name, nameLength, serial, fileSystem, fileSystemLength)
                      : FALSE;
    }
    DWORD wnetGetConnection(const wchar_t* local, wchar_t* remote, DWORD* length) override {
        record(local);
        return connection ? connection(local, remote, length) : DWORD{ERROR_NOT_CONNECTED};
    }
    DWORD getCurrentDirectory(DWORD length, wchar_t* buffer) override {
        if (currentDirectory.empty())
            return 0;
        if (currentDirectory.size() + 1 > length)
            return static_cast<DWORD>(currentDirectory.size() + 1);
        currentDirectory.copy(buffer, currentDirectory.size());
        buffer[currentDirectory.size()] = L'\0';
        return static_cast<DWORD>(currentDirectory.size());
    }
    DWORD getIfTable2(MIB_IF_TABLE2** table) override {
        return ifTable ? ifTable(table) : DWORD{ERROR_NOT_SUPPORTED};
    }
    void freeMibTable(void* table) override {
        ++tablesFreed;
        ::operator delete(table);
    }
    BOOL setThreadErrorMode(DWORD mode, DWORD* oldMode) override {
        std::lock_guard lock(mutex);
        DWORD& current = errorModes[std::this_thread::get_id()];
        if (oldMode != nullptr)
            *oldMode = current;
        current = mode;
        return TRUE;
    }

  private:
    void record(const wchar_t* root, bool volumeCall = false) {
        std::lock_guard lock(mutex);
        roots.emplace_back(root);
        if (volumeCall)
            modesDuringVolumeCalls.push_back(errorModes[std::this_thread::get_id()]);
    }
    std::map<std::thread::id, DWORD> errorModes;
};

// Copies a text into a call's buffer the way the volume calls do (cut to fit, NUL-ended).
inline void fill(wchar_t* buffer, DWORD capacity, const std::wstring& text) {
    const std::size_t n = text.size() < capacity ? text.size() : capacity - 1;
    text.copy(buffer, n);
    buffer[n] = L'\0';
}

// A MIB_IF_TABLE2 of the given rows, in memory freeMibTable gives back.
inline MIB_IF_TABLE2* makeTable(const std::vector<MIB_IF_ROW2>& rows) {
    const std::size_t size =
        sizeof(MIB_IF_TABLE2) + (rows.empty() ? 0 : rows.size() - 1) * sizeof(MIB_IF_ROW2);
    auto* table = static_cast<MIB_IF_TABLE2*>(::operator new(size));
    table->NumEntries = static_cast<ULONG>(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        table->Table[i] = rows[i];
    return table;
}

}  // namespace koravex::win::testing
