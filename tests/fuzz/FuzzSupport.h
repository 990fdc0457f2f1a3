// What the fuzz targets share: a private folder, a fed line, and the invariants of rows and log.
#pragma once

#include "FakeClock.h"
#include "FakePort.h"
#include "RecordingView.h"
#include "TempDir.h"

#include "readout/ReadoutCore.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>

namespace varnel::test {

// A failed invariant: say which, then let libFuzzer keep the input (the stack trace tells where).
#define FUZZ_CHECK(condition)                                                                                \
    ((condition) ? void() : (std::fputs("invariant failed: " #condition "\n", stderr), std::abort()))

// The core on a fake line and clock, its log in a folder of its own.
struct FuzzLine {
    TempDir dir;
    FakeClock clock;
    FakePort port{&clock};
    RecordingView view;
    PortNames names;
    ReadoutCore core{port, clock, view, names, dir.File("Log1107.txt")};

    // Feeds the front of the input in chunks, with silences, both from its end; `tick` reads each chunk.
    template <typename Tick> void Feed(FuzzedDataProvider& in, Tick tick)
    {
        while (in.remaining_bytes() > 0) {
            const auto chunk = in.ConsumeIntegralInRange<std::size_t>(0, 300);
            port.Feed(in.ConsumeBytes<std::uint8_t>(chunk));
            clock.Advance(in.ConsumeBool() ? 50u : in.ConsumeIntegralInRange<std::uint32_t>(0, 20000));
            tick();
        }
    }

    // The list holds what the log records: each line of the log is one record, sent bytes or a row, and each
    // row record is the list's row in order (an LF in it as <0A>); no row is longer than the line buffer's
    // 999 bytes.
    void CheckRowsAndLog()
    {
        core.rows.CloseLog();
        FUZZ_CHECK(core.rows.m_rowCount == static_cast<int>(view.rows.size()));
        const std::string log = ReadFileBytes(dir.File("Log1107.txt"));
        std::size_t row = 0;
        for (std::size_t at = 0, end; at < log.size(); at = end + 2) {
            end = log.find("\r\n", at);
            FUZZ_CHECK(end != std::string::npos);
            const std::string record = log.substr(at, end - at);
            FUZZ_CHECK(record.rfind("==> ", 0) == 0 || record.rfind("<== ", 0) == 0);
            if (record[0] == '<') {
                FUZZ_CHECK(row < view.rows.size());
                std::string logged = view.rows[row++].text;
                for (std::size_t lf; (lf = logged.find('\n')) != std::string::npos;)
                    logged.replace(lf, 1, "<0A>");
                FUZZ_CHECK(record.substr(4) == logged);
            }
        }
        FUZZ_CHECK(row == view.rows.size());
        for (const auto& r : view.rows)
            FUZZ_CHECK(r.text.size() <= 999 && r.text.find('\0') == std::string::npos);
    }
};

} // namespace varnel::test
