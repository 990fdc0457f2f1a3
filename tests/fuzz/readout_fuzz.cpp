// libFuzzer target: arbitrary bytes from the line, in arbitrary chunks and with
// arbitrary silences, through the engine, the rows and the trace log.

#include "FakeClock.h"
#include "FakePort.h"
#include "RecordingView.h"

#include "readout/ReadoutCore.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace varnel;
    static const std::string logPath =
        (std::filesystem::temp_directory_path() / ("varnel-fuzz-" + std::to_string(::getpid()) + ".txt"))
            .string();
    test::FakeClock clock;
    test::FakePort port(&clock);
    test::RecordingView view;
    PortNames names;
    ReadoutCore core(port, clock, view, names, logPath);
    core.engine.StartReadout();

    // Each step: one control byte (chunk length, silence), then that many bytes.
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t control = data[i++];
        const std::size_t chunk = std::min<std::size_t>(control & 0x3F, size - i);
        port.Feed(std::vector<std::uint8_t>(data + i, data + i + chunk));
        i += chunk;
        clock.Advance((control & 0xC0) == 0xC0 ? 3100u : 50u);
        core.engine.OnReceiveTick();
        if (core.rows.m_rowCount != static_cast<int>(view.rows.size()))
            std::abort();
    }
    return 0;
}
