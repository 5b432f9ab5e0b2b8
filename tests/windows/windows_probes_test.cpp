// The Windows backend over calls that tests answer: what each Windows answer becomes.
#include <gtest/gtest.h>

#include <limits>

#include "core/windows/windows_probes.h"
#include "tests/windows/fake_win_calls.h"

namespace koravex {
namespace {

using win::testing::FakeWinCalls;
using win::testing::fill;
using win::testing::makeTable;

constexpr std::uint64_t kGiB = 1ull << 30;

ULARGE_INTEGER large(std::uint64_t value) {
    ULARGE_INTEGER out{};
    out.QuadPart = value;
    return out;
}

TEST(WindowsMemory, SixtyFourBitCountsPassThroughAndTheRecordIsSized) {
    FakeWinCalls calls;
    DWORD lengthSeen = 0;
    calls.memory = [&](MEMORYSTATUSEX* status) {
        lengthSeen = status->dwLength;
        status->ullTotalPhys = 64 * kGiB + 1;
        status->ullAvailPhys = 5 * kGiB + 3;
        status->ullTotalPageFile = 72 * kGiB;
        status->ullAvailPageFile = 9 * kGiB;
        status->ullTotalVirtual = 128ull * 1024 * kGiB;
        status->ullAvailVirtual = 127ull * 1024 * kGiB;
        return TRUE;
    };
    const MemoryStatus m = makeDirectWindowsProbes(calls)->memoryStatus();
    EXPECT_EQ(lengthSeen, sizeof(MEMORYSTATUSEX));
    EXPECT_EQ(m.totalPhys, 64 * kGiB + 1);
    EXPECT_EQ(m.availPhys, 5 * kGiB + 3);
    EXPECT_EQ(m.totalPageFile, 72 * kGiB);
    EXPECT_EQ(m.availPageFile, 9 * kGiB);
    EXPECT_EQ(m.totalVirtual, 128ull * 1024 * kGiB);
    EXPECT_EQ(m.availVirtual, 127ull * 1024 * kGiB);

    calls.memory = [](MEMORYSTATUSEX* status) {
        status->ullTotalPhys = 1;  // a failed call's leftovers are not shown
        return FALSE;
    };
    EXPECT_EQ(makeDirectWindowsProbes(calls)->memoryStatus().totalPhys, 0u);
}

struct RootsCase {
    const char* name;
    std::wstring answer;
    std::vector<std::string> roots;
};

class WindowsDriveRoots : public ::testing::TestWithParam<RootsCase> {};

TEST_P(WindowsDriveRoots, AreTakenUpToTheClosingNul) {
    FakeWinCalls calls;
    calls.driveStrings = GetParam().answer;
    EXPECT_EQ(makeDirectWindowsProbes(calls)->driveRoots(), GetParam().roots);
}

std::wstring allLetters() {
    std::wstring out;
    for (wchar_t c = L'A'; c <= L'Z'; ++c)
        out += std::wstring{c, L':', L'\\', L'\0'};
    return out + L'\0';
}

std::vector<std::string> allRoots() {
    std::vector<std::string> out;
    for (char c = 'A'; c <= 'Z'; ++c)
        out.push_back(std::string{c, ':', '\\'});
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, WindowsDriveRoots,
    ::testing::Values(RootsCase{"TwoDrives", std::wstring(L"C:\\\0Z:\\\0\0", 9), {"C:\\", "Z:\\"}},
                      RootsCase{"AllLetters", allLetters(), allRoots()}, RootsCase{"None", L"", {}},
                      // A buffer the call filled without the closing NUL still ends.
                      RootsCase{"NoClosingNul", std::wstring(L"C:\\\0D:\\", 7), {"C:\\", "D:\\"}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(WindowsDriveRootsSize, ALongerAnswerIsAskedForAgainWithRoomForIt) {
    FakeWinCalls calls;
    std::wstring many;
    for (int i = 0; i < 80; ++i)  // more than 256 characters: not a real machine, but legal
        many += std::wstring(L"Q:\\\0", 4);
    calls.driveStrings = many + L'\0';
    EXPECT_EQ(makeDirectWindowsProbes(calls)->driveRoots().size(), 80u);
    EXPECT_EQ(calls.driveStringCalls, 2);

    FakeWinCalls failing;
    failing.driveStringsResult = 0;
    EXPECT_TRUE(makeDirectWindowsProbes(failing)->driveRoots().empty());
}

TEST(WindowsDriveType, NumbersMapOneToOneAndStrangeOnesAreUnknown) {
    const std::pair<UINT, DriveType> cases[] = {
        {DRIVE_UNKNOWN, DriveType::Unknown},     {DRIVE_NO_ROOT_DIR, DriveType::NoRootDir},
        {DRIVE_REMOVABLE, DriveType::Removable}, {DRIVE_FIXED, DriveType::Fixed},
        {DRIVE_REMOTE, DriveType::Remote},       {DRIVE_CDROM, DriveType::CdRom},
        {DRIVE_RAMDISK, DriveType::RamDisk},     {7, DriveType::Unknown},
        {0xFFFFFFFFu, DriveType::Unknown},
    };
    for (const auto& [answer, expected] : cases) {
        FakeWinCalls calls;
        calls.type = [answer = answer](const std::wstring&) { return answer; };
        EXPECT_EQ(makeDirectWindowsProbes(calls)->driveType("E:\\"), expected) << answer;
        EXPECT_EQ(calls.roots, std::vector<std::wstring>{L"E:\\"});
    }
}

TEST(WindowsDriveSpace, CountsInTheCallsOrderAndFailures) {
    FakeWinCalls calls;
    calls.space = [](const std::wstring&, ULARGE_INTEGER* caller, ULARGE_INTEGER* total,
                     ULARGE_INTEGER* totalFree) {
        *caller = large(3 * kGiB);
        *total = large(6000 * kGiB);
        *totalFree = large(5 * kGiB);
        return TRUE;
    };
    auto probes = makeDirectWindowsProbes(calls);
    const auto space = probes->driveSpace("D:\\");
    ASSERT_TRUE(space);
    EXPECT_EQ(space->freeToCaller, static_cast<std::int64_t>(3 * kGiB));
    EXPECT_EQ(space->total, static_cast<std::int64_t>(6000 * kGiB));
    EXPECT_EQ(space->totalFree, static_cast<std::int64_t>(5 * kGiB));
    EXPECT_EQ(calls.roots.back(), L"D:\\");

    // Counts beyond the signed range (a share that reports all bits set) stay positive.
    calls.space = [](const std::wstring&, ULARGE_INTEGER* caller, ULARGE_INTEGER* total,
                     ULARGE_INTEGER* totalFree) {
        *caller = *total = *totalFree = large(~0ull);
        return TRUE;
    };
    EXPECT_EQ(probes->driveSpace("D:\\")->total, std::numeric_limits<std::int64_t>::max());

    calls.space = nullptr;  // ERROR_NOT_READY and the like
    EXPECT_FALSE(probes->driveSpace("D:\\"));
}

TEST(WindowsVolumeCalls, RunWithoutCriticalErrorBoxesAndRestoreTheMode) {
    FakeWinCalls calls;
    calls.setThreadErrorMode(SEM_NOGPFAULTERRORBOX, nullptr);  // what the thread had before
    auto probes = makeDirectWindowsProbes(calls);
    probes->driveSpace("A:\\");
    probes->volumeInformation("A:\\");
    ASSERT_EQ(calls.modesDuringVolumeCalls.size(), 2u);
    for (DWORD mode : calls.modesDuringVolumeCalls)
        EXPECT_TRUE(mode & SEM_FAILCRITICALERRORS) << mode;
    EXPECT_EQ(calls.errorMode(), DWORD{SEM_NOGPFAULTERRORBOX});
}

TEST(WindowsVolumeCalls, RootsThatAreNoRootsAreNotPassedOn) {
    FakeWinCalls calls;
    auto probes = makeDirectWindowsProbes(calls);
    for (std::string_view root : {std::string_view{}, std::string_view("\0:\\", 3)}) {
        EXPECT_FALSE(probes->driveSpace(root));
        EXPECT_FALSE(probes->volumeInformation(root));
        EXPECT_EQ(probes->driveType(root), DriveType::NoRootDir);
        EXPECT_FALSE(probes->remoteName(root));
    }
    EXPECT_TRUE(calls.roots.empty());
}

struct VolumeCase {
    const char* name;
    std::wstring label;
    std::wstring fileSystem;
    DWORD serial;
    std::string expectedLabel;
    std::string expectedFileSystem;
};

class WindowsVolume : public ::testing::TestWithParam<VolumeCase> {};

TEST_P(WindowsVolume, TextsComeBackAsUtf8) {
    const VolumeCase& c = GetParam();
    FakeWinCalls calls;
    calls.volume = [&](const std::wstring&, wchar_t* name, DWORD nameLength, DWORD* serial,
                       wchar_t* fs, DWORD fsLength) {
        EXPECT_GE(nameLength, 256u);
        EXPECT_GE(fsLength, 256u);
        fill(name, nameLength, c.label);
        fill(fs, fsLength, c.fileSystem);
        *serial = c.serial;
        return TRUE;
    };
    const auto volume = makeDirectWindowsProbes(calls)->volumeInformation("C:\\");
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->name, c.expectedLabel);
    EXPECT_EQ(volume->fileSystem, c.expectedFileSystem);
    EXPECT_EQ(volume->serial, c.serial);
}

INSTANTIATE_TEST_SUITE_P(
    Labels, WindowsVolume,
    ::testing::Values(VolumeCase{"Plain", L"SYSTEM", L"NTFS", 0x5A1F00C3u, "SYSTEM", "NTFS"},
                      VolumeCase{"Empty", L"", L"FAT32", 0, "", "FAT32"},
                      VolumeCase{"Cyrillic", L"\x0414\x0438\x0441\x043A", L"exFAT", 0xFFFFFFFFu,
                                 "\xD0\x94\xD0\xB8\xD1\x81\xD0\xBA", "exFAT"},
                      // A character outside the basic plane arrives as a surrogate pair.
                      VolumeCase{"SurrogatePair", L"\xD83D\xDCBE", L"NTFS", 1, "\xF0\x9F\x92\xBE",
                                 "NTFS"},
                      // A label cut inside a pair keeps a replacement character, not a broken byte.
                      VolumeCase{"LoneSurrogate", L"a\xD83D", L"NTFS", 1, "a\xEF\xBF\xBD", "NTFS"},
                      // The whole buffer filled: the text ends at its capacity.
                      VolumeCase{"Full", std::wstring(400, L'x'), L"NTFS", 2,
                                 std::string(MAX_PATH, 'x'), "NTFS"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(WindowsVolumeFailure, NoMediumIsNoAnswer) {
    FakeWinCalls calls;
    calls.volume = [](const std::wstring&, wchar_t* name, DWORD nameLength, DWORD*, wchar_t*,
                      DWORD) {
        fill(name, nameLength, L"stale");
        ::SetLastError(ERROR_NOT_READY);
        return FALSE;
    };
    EXPECT_FALSE(makeDirectWindowsProbes(calls)->volumeInformation("D:\\"));
}

TEST(WindowsRemoteName, AskedByLetterAndColonAndGrownWhenLong) {
    const std::wstring longName = L"\\\\server\\" + std::wstring(600, L's');
    struct Case {
        const char* name;
        std::function<DWORD(const std::wstring&, wchar_t*, DWORD*)> answer;
        std::optional<std::string> expected;
        std::size_t calls;
    };
    const Case cases[] = {
        {"Mapped",
         [](const std::wstring&, wchar_t* remote, DWORD* length) {
             fill(remote, *length, L"\\\\files\\\x043E\x0431\x0449\x0438\x0439");
             return DWORD{NO_ERROR};
         },
         "\\\\files\\\xD0\xBE\xD0\xB1\xD1\x89\xD0\xB8\xD0\xB9", 1},
        {"Long",
         [&](const std::wstring&, wchar_t* remote, DWORD* length) {
             if (*length < longName.size() + 1) {
                 *length = static_cast<DWORD>(longName.size() + 1);
                 return DWORD{ERROR_MORE_DATA};
             }
             fill(remote, *length, longName);
             return DWORD{NO_ERROR};
         },
         std::string(longName.begin(), longName.end()), 2},
        {"NotConnected",
         [](const std::wstring&, wchar_t*, DWORD*) { return DWORD{ERROR_NOT_CONNECTED}; },
         std::nullopt, 1},
        {"ProviderGone",
         [](const std::wstring&, wchar_t*, DWORD*) { return DWORD{ERROR_NO_NETWORK}; },
         std::nullopt, 1},
    };
    for (const Case& c : cases) {
        FakeWinCalls calls;
        calls.connection = c.answer;
        EXPECT_EQ(makeDirectWindowsProbes(calls)->remoteName("N:\\"), c.expected) << c.name;
        ASSERT_EQ(calls.roots.size(), c.calls) << c.name;
        EXPECT_EQ(calls.roots.front(), L"N:") << c.name;
    }
}

TEST(WindowsCurrentDrive, TheLetterOfTheCurrentDirectoryOrNul) {
    const std::pair<std::wstring, char> cases[] = {
        {L"C:\\Users\\me", 'C'},
        {L"d:\\", 'D'},
        {L"\\\\server\\share\\dir", '\0'},  // a network path lies on no drive
        {L"\\\\?\\C:\\long", '\0'},
        {L"", '\0'},                               // the call failed
        {L"E:\\" + std::wstring(400, L'x'), 'E'},  // longer than MAX_PATH
        {L"1:\\", '\0'},
    };
    for (const auto& [directory, letter] : cases) {
        FakeWinCalls calls;
        calls.currentDirectory = directory;
        EXPECT_EQ(makeDirectWindowsProbes(calls)->currentDirectoryDrive(), letter)
            << std::string(directory.begin(), directory.end());
    }
}

MIB_IF_ROW2 ifRow(NET_IFINDEX index, const std::wstring& description) {
    MIB_IF_ROW2 row{};
    row.InterfaceIndex = index;
    description.copy(row.Description, description.size());
    row.Type = IF_TYPE_ETHERNET_CSMACD;
    row.AdminStatus = NET_IF_ADMIN_STATUS_UP;
    row.OperStatus = IfOperStatusUp;
    row.MediaConnectState = MediaConnectStateConnected;
    return row;
}

TEST(WindowsInterfaces, RowsKeepTheirOrderCountersAndTexts) {
    FakeWinCalls calls;
    calls.ifTable = [](MIB_IF_TABLE2** table) {
        MIB_IF_ROW2 ether = ifRow(12, L"Intel(R) Ethernet \x2116 1");
        ether.TransmitLinkSpeed = 10'000'000'000ull;
        ether.ReceiveLinkSpeed = 1;
        ether.InOctets = (1ull << 32) + 7;  // past what a 32-bit counter holds
        ether.OutOctets = 5'000'000'000'000ull;
        MIB_IF_ROW2 loop = ifRow(1, L"Software Loopback Interface 1");
        loop.Type = IF_TYPE_SOFTWARE_LOOPBACK;
        loop.TransmitLinkSpeed = ~0ull;  // unknown
        MIB_IF_ROW2 full = ifRow(3, std::wstring(IF_MAX_STRING_SIZE + 1, L'w'));
        *table = makeTable({ether, loop, full});
        return DWORD{NO_ERROR};
    };
    const auto rows = makeDirectWindowsProbes(calls)->interfaceTable();
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 3u);
    EXPECT_EQ((*rows)[0].index, 12u);
    EXPECT_EQ((*rows)[0].description, "Intel(R) Ethernet \xE2\x84\x96 1");
    EXPECT_EQ((*rows)[0].type, 6u);
    EXPECT_EQ((*rows)[0].speed, 10'000'000'000ull);
    EXPECT_EQ((*rows)[0].inOctets, (1ull << 32) + 7);
    EXPECT_EQ((*rows)[0].outOctets, 5'000'000'000'000ull);
    EXPECT_EQ((*rows)[1].index, 1u);
    EXPECT_EQ((*rows)[1].type, 24u);
    EXPECT_EQ((*rows)[1].speed, 0u);
    EXPECT_EQ((*rows)[2].description, std::string(IF_MAX_STRING_SIZE + 1, 'w'));
    EXPECT_EQ(calls.tablesFreed, 1);
}

TEST(WindowsInterfaces, AFailedQueryIsNoTableAndLeaksNothing) {
    FakeWinCalls calls;
    calls.ifTable = [](MIB_IF_TABLE2** table) {
        *table = makeTable({});
        return DWORD{ERROR_NOT_ENOUGH_MEMORY};
    };
    EXPECT_FALSE(makeDirectWindowsProbes(calls)->interfaceTable());
    EXPECT_EQ(calls.tablesFreed, 1);

    calls.ifTable = [](MIB_IF_TABLE2** table) {
        *table = makeTable({});
        return DWORD{NO_ERROR};
    };
    const auto rows = makeDirectWindowsProbes(calls)->interfaceTable();
    ASSERT_TRUE(rows);
    EXPECT_TRUE(rows->empty());
    EXPECT_EQ(calls.tablesFreed, 2);
}

TEST(WindowsInterfaces, StatusOnTheOlderTablesScale) {
    struct Case {
        NET_IF_ADMIN_STATUS admin;
        IF_OPER_STATUS oper;
        NET_IF_MEDIA_CONNECT_STATE media;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {NET_IF_ADMIN_STATUS_UP, IfOperStatusUp, MediaConnectStateConnected, 5},
        {NET_IF_ADMIN_STATUS_UP, IfOperStatusDown, MediaConnectStateDisconnected, 2},
        {NET_IF_ADMIN_STATUS_UP, IfOperStatusLowerLayerDown, MediaConnectStateConnected, 2},
        {NET_IF_ADMIN_STATUS_UP, IfOperStatusTesting, MediaConnectStateConnected, 2},
        {NET_IF_ADMIN_STATUS_UP, IfOperStatusDormant, MediaConnectStateConnected, 3},
        {NET_IF_ADMIN_STATUS_UP, IfOperStatusNotPresent, MediaConnectStateUnknown, 0},
        {NET_IF_ADMIN_STATUS_DOWN, IfOperStatusDown, MediaConnectStateConnected, 0},
        {NET_IF_ADMIN_STATUS_DOWN, IfOperStatusUp, MediaConnectStateConnected, 0},
        {NET_IF_ADMIN_STATUS_UP, IfOperStatusUnknown, MediaConnectStateConnected, 5},
        {NET_IF_ADMIN_STATUS_UP, IfOperStatusUnknown, MediaConnectStateUnknown, 2},
    };
    for (const Case& c : cases) {
        FakeWinCalls calls;
        calls.ifTable = [&](MIB_IF_TABLE2** table) {
            MIB_IF_ROW2 row = ifRow(2, L"x");
            row.AdminStatus = c.admin;
            row.OperStatus = c.oper;
            row.MediaConnectState = c.media;
            *table = makeTable({row});
            return DWORD{NO_ERROR};
        };
        const auto rows = makeDirectWindowsProbes(calls)->interfaceTable();
        ASSERT_TRUE(rows);
        EXPECT_EQ(rows->at(0).operStatus, c.expected)
            << "admin " << c.admin << " oper " << c.oper << " media " << c.media;
    }
}

}  // namespace
}  // namespace koravex
