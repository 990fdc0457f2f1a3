// A readout of 50,000 data lines into the window: the list and the trace log.
// Prints the CPU time of the whole readout, the longest receive tick (with the
// event processing that follows it) and the cost of the first and the last
// 5,000 rows, which must not grow with the list. Exits with 1 when over budget.
//   QT_QPA_PLATFORM=offscreen <build>/bench/window_bench

#include "FakeClock.h"
#include "FakePort.h"
#include "ReadoutDlg.h"
#include "ResultList.h"
#include "TempDir.h"
#include "core/ControlIds.h"
#include "readout/BlockCheck.h"
#include "widgets/CLinkLabel.h"

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>

using namespace varnel;
using Ms = std::chrono::duration<double, std::milli>;

namespace {

constexpr int kLines = 50000;
constexpr int kSlice = 5000;
constexpr Ms kCpuBudget{2000};
constexpr Ms kTickBudget{100};

Ms CpuNow()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return Ms(ts.tv_sec * 1e3 + ts.tv_nsec / 1e6);
}

std::string DataBlock()
{
    std::string block = "\x02";
    for (int i = 0; i < kLines; ++i)
        block += "1.8." + std::to_string(i % 100) + "(" + std::to_string(100000 + i) + ".5*kWh)\r\n";
    block += "!\r\n\x03";
    return block
           + static_cast<char>(
               BlockCheck(reinterpret_cast<const std::uint8_t*>(block.data()) + 1, block.size() - 1));
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    test::TempDir dir;
    test::FakeClock clock;
    test::FakePort port(&clock);
    PortNames names;
    CReadoutDlg dlg(port, clock, names, {}, dir.File("Log1107.txt"));
    dlg.LinkLabel()->SetDesktop({});
    dlg.show();
    QApplication::processEvents();

    const Ms cpuStart = CpuNow();
    dlg.OnRead();
    port.Feed("/ABC5\\2Bench\r\n" + DataBlock());
    Ms longestTick{0};
    Ms firstSlice{0}, lastSlice{0};
    int ticks = 0;
    while (dlg.Core().engine.State() != READ_IDLE && ticks < 100000) {
        const int rowsBefore = dlg.Rows()->RowsAdded();
        const auto wallStart = std::chrono::steady_clock::now();
        const Ms cpuTick = CpuNow();
        clock.Advance(50);
        dlg.OnTimer(TIMER_RECEIVE);
        QApplication::processEvents();
        const Ms spent = CpuNow() - cpuTick;
        longestTick = std::max(longestTick, Ms(std::chrono::steady_clock::now() - wallStart));
        if (rowsBefore < kSlice)
            firstSlice += spent;
        else if (rowsBefore >= kLines - kSlice)
            lastSlice += spent;
        ++ticks;
    }
    const Ms cpu = CpuNow() - cpuStart;
    const int rows = dlg.Rows()->RowsAdded();

    std::printf("rows in the list      %d (%d data lines)\n", rows, kLines);
    std::printf("receive ticks         %d\n", ticks);
    std::printf("CPU, whole readout    %.0f ms (budget %.0f ms)\n", cpu.count(), kCpuBudget.count());
    // The clock is fake: the protocol's own waits take no time here.
    std::printf("longest tick + events %.1f ms (budget %.0f ms)\n", longestTick.count(), kTickBudget.count());
    std::printf("CPU, first ~%d rows  %.0f ms; last ~%d rows %.0f ms\n", kSlice, firstSlice.count(), kSlice,
                lastSlice.count());
    const bool ok = rows >= kLines && cpu < kCpuBudget && longestTick < kTickBudget;
    std::printf("%s\n", ok ? "within budget" : "OVER BUDGET");
    return ok ? 0 : 1;
}
