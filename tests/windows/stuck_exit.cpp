// A drive whose calls never return, then the end of the program: main returns while a
// worker thread is still inside the drive call, and the process must end all the same
// (exit status 0), without a word from the stuck call.
#include <chrono>
#include <cstdio>

#include "core/refresh.h"
#include "core/windows/windows_probes.h"
#include "tests/windows/fake_win_calls.h"

int main() {
    using namespace std::chrono;
    // Lives as long as the process: the stuck worker holds on to it until the very end.
    auto* calls = new koravex::win::testing::FakeWinCalls;
    calls->space = [](const std::wstring&, ULARGE_INTEGER*, ULARGE_INTEGER*, ULARGE_INTEGER*) {
        ::Sleep(INFINITE);  // a share whose server is gone, for good
        return FALSE;
    };
    auto probes = koravex::makeWindowsProbes(*calls);
    koravex::RefreshInputs in;
    in.driveLetter = 'N';
    in.drives = {{"N:\\", true}};
    in.alertOn = true;
    const auto start = steady_clock::now();
    const koravex::DisplayModel m = koravex::runRefresh(*probes, in);
    const auto took = duration_cast<milliseconds>(steady_clock::now() - start).count();
    std::printf("refresh %lld ms, Label9 %s\n", static_cast<long long>(took), m.label9.c_str());
    if (m.label9 != koravex::kCannotDetermine || took > 1000)
        return 1;
    probes.reset();
    return 0;
}
