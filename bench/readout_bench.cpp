// Core throughput: a synthetic 1 MB readout fed through the engine, the rows
// and the trace log, with a scripted port and a clock that never waits.
// Prints MB/s (CPU time) and the process's peak resident memory.

#include "FakeClock.h"
#include "FakePort.h"
#include "TempDir.h"

#include "core/View.h"
#include "readout/BlockCheck.h"
#include "readout/ReadoutCore.h"

#include <sys/resource.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

namespace {

// Rows are counted, not kept: this measures the core, not a list widget.
class CountingView final : public varnel::View {
public:
    void SetControlText(int, const std::string&) override {}
    int ComboSelection(int) const override { return 0; }
    std::string ComboItemText(int, int) const override { return "Auto"; }
    bool IsChecked(int) const override { return true; }
    void StartTimer(int, std::chrono::milliseconds) override {}
    void StopTimer(int) override {}
    void ShowMessage(const std::string& text, varnel::MessageIcon) override
    {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    void InsertRow(int, const std::string& text) override
    {
        bytes += text.size();
        ++rows;
    }
    void SetRowColumns(int, const std::string&, const std::string&) override {}
    void DeleteAllRows() override {}
    void EnsureRowVisible(int) override {}
    void ShowControl(int, bool) override {}
    void SetControlToolTip(int, const std::string&) override {}
    void SetWindowBottom(int) override {}

    std::size_t rows = 0;
    std::size_t bytes = 0;
};

double CpuSeconds()
{
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

} // namespace

int main()
{
    using namespace varnel;
    std::string block = "\x02";
    int lines = 0;
    while (block.size() < 1'000'000) {
        block += "1-0:1.8." + std::to_string(lines % 100) + "*" + std::to_string(lines % 15)
                 + "(0006334.294*kWh)\r\n";
        ++lines;
    }
    block += "!\r\n\x03";
    block += static_cast<char>(
        BlockCheck(reinterpret_cast<const std::uint8_t*>(block.data()) + 1, block.size() - 1));

    const test::TempDir dir;
    const std::string logPath = dir.File(kTraceLogName);
    test::FakeClock clock;
    test::FakePort port(&clock);
    CountingView view;
    PortNames names;
    ReadoutCore core(port, clock, view, names, logPath);

    core.engine.StartReadout();
    port.Feed(std::string("/VAR5\\2BENCH\r\n") + block);
    const double start = CpuSeconds();
    int ticks = 0;
    while (core.engine.State() != READ_IDLE && ticks < 100000) {
        clock.Advance(50);
        core.engine.OnReceiveTick();
        ++ticks;
    }
    const double cpu = CpuSeconds() - start;
    core.rows.CloseLog();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double mb = static_cast<double>(block.size()) / 1e6;
    std::printf("readout: %.2f MB in %d data lines, %zu rows, %d ticks\n", mb, lines + 1, view.rows, ticks);
    std::printf("core throughput: %.1f MB/s (%.3f s CPU; target >= 20 MB/s)\n", mb / cpu, cpu);
    std::printf("trace log: %.2f MB\n", static_cast<double>(std::filesystem::file_size(logPath)) / 1e6);
    std::printf("peak resident memory: %.1f MB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
    return core.engine.LastEnd() == ReadoutEnd::BlockCheck ? 0 : 1;
}
