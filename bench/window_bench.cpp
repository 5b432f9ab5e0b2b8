// Shown refreshes of the main window, for instruction counts under callgrind:
//   valgrind --tool=callgrind --collect-atstart=no build/release/bench/window_bench TAB N [gauges]
// TAB is the tab shown (0 memory, 1 drives, 2 network). The window stands over a fake
// machine whose figures move at every refresh as a busy machine's do (free memory and the
// free space of C: every time, the page file every fifth, the address space every tenth,
// both interfaces' counters every time), so that every run does the same work. With
// `gauges` the moves are large enough that the gauges' percentages change too (free memory
// and C:'s free space at every refresh, the page file every fifth), within a few percent, as
// on a machine whose memory use swings between refreshes. Each
// refresh is followed by the event loop's turn, which paints what it wrote. Only the N
// refreshes are counted; without callgrind the program just runs them.
#include <QApplication>
#include <QTabWidget>
#include <QTimer>
#include <cstdlib>
#include <string_view>

#include "tests/support/fake_probes.h"
#include "ui/main_window.h"

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_START_INSTRUMENTATION
#define CALLGRIND_STOP_INSTRUMENTATION
#endif

namespace {

// A step that changes the figure's lower digits, never its number of digits.
std::uint64_t wobble(std::uint64_t base, int i, std::uint64_t step) {
    return base + static_cast<std::uint64_t>((i * 7919) % 97) * step;
}

void settle() {
    for (int k = 0; k < 3; ++k)
        QApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int tab = argc > 1 ? std::atoi(argv[1]) : 0;
    const int count = argc > 2 ? std::atoi(argv[2]) : 200;
    const bool gauges = argc > 3 && std::string_view(argv[3]) == "gauges";
    koravex::FakeProbes probes = koravex::FakeProbes::sample();
    const koravex::MemoryStatus start = probes.memory;
    const std::int64_t free = probes.drives["C:\\"].space->totalFree;
    koravex::TForm1 window(probes, {});
    window.show();
    window.findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentIndex(tab);
    for (int k = 0; k < 10; ++k) {
        QApplication::processEvents();
        window.Timer1Timer();
    }
    settle();
    CALLGRIND_START_INSTRUMENTATION;
    // Whole percents of each total, in seven places visited in turn (0, 3, 6, 2, 5, 1, 4), so
    // that a gauge's percentage changes at every write without any figure changing its number
    // of digits.
    const auto swing = [&](int i, std::uint64_t total) {
        return static_cast<std::uint64_t>((i * 3) % 7) * (total / 100);
    };
    const std::int64_t total = probes.drives["C:\\"].space->total;
    for (int i = 0; i < count; ++i) {
        probes.memory.availPhys = gauges ? start.availPhys + swing(i, start.totalPhys)
                                         : wobble(start.availPhys, i, 4096 * 13);
        if (i % 5 == 0)
            probes.memory.availPageFile = gauges
                                              ? start.availPageFile + swing(i, start.totalPageFile)
                                              : wobble(start.availPageFile, i, 4096 * 7);
        if (i % 10 == 0)
            probes.memory.availVirtual = wobble(start.availVirtual, i, 4096 * 3);
        probes.drives["C:\\"].space->totalFree =
            gauges ? free - static_cast<std::int64_t>(swing(i, static_cast<std::uint64_t>(total)))
                   : free - static_cast<std::int64_t>(i) * 4096;
        for (koravex::InterfaceRow& row : *probes.interfaces) {
            row.inOctets += 1500 * (1 + i % 3);
            row.outOctets += 700;
        }
        window.Timer1Timer();
        settle();
    }
    CALLGRIND_STOP_INSTRUMENTATION;
    return 0;
}
