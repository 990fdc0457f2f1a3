#pragma once

#include "CliOptions.h"
#include "CliView.h"

#include "readout/ReadoutCore.h"
#include "readout/TelegramReader.h"
#include "serial/PortNames.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace varnel {
class Clock;
class Port;
} // namespace varnel

namespace varnel::cli {

constexpr int kExitBlockCheck = 0;
constexpr int kExitOpenFailed = 1;
constexpr int kExitTimeOut = 2;
constexpr int kExitCheckFailed = 3;
constexpr int kExitUsage = 64;
constexpr int kExitCantCreate = 73;
constexpr int kExitSigInt = 130;
constexpr int kExitSigTerm = 143;

// Long enough after a failed try for the meter to be back at rest, listening for a request.
constexpr std::chrono::milliseconds kRetryPause{1500};
// With --listen the trace log starts anew beyond this size (the older part goes to
// LOG.1), so that following a meter for months never fills the disk.
constexpr std::uintmax_t kListenLogCap = 1024 * 1024;

// What a run reads and writes outside the port: the settings file (the saved port
// and the [Ports] map), the trace log, and the two output streams.
struct RunPlaces {
    std::filesystem::path settingsFile;
    std::string logPath = kTraceLogName;
};

// One run of varnel-read, wired once for the program and its tests: the view on the
// streams, the readout core and the push reader on the given port and clock, the
// port chosen by the options, and the receive timer's ticks until the run is over.
class ReadRun {
public:
    ReadRun(const Options& options, Port& port, Clock& clock, std::ostream& out, std::ostream& err,
            const RunPlaces& places);

    // Starts the readout (or the listening); false when the port could not be opened,
    // which the view has already said on err.
    bool Start();
    // One tick of the receive timer; true once the run is over.
    bool Tick();
    // SIGINT or SIGTERM arrived; true once the run is over. Following a push meter
    // (--count 0) it ends after the telegram in progress, otherwise at once.
    bool OnStopSignal(int signal);
    bool Over() const { return m_over; }
    // Prints what follows the rows, closes the log, releases the port and returns
    // the exit status.
    int Finish();

    CliView& View() { return m_view; }
    ReadoutCore& Core() { return m_core; }

private:
    void End(int exitCode);
    bool TickReadout();
    void OnTelegramEnd(BlockCheckResult check);
    int ListenStatus() const;
    void KeepLogBounded();
    // Says once on err that the trace log is missing or incomplete, and why.
    void TellLogLoss();

    const Options m_options;
    PortNames m_names;
    const std::filesystem::path m_settingsFile;
    Clock& m_clock;
    std::ostream& m_err;
    CliView m_view;
    ReadoutCore m_core;
    TelegramReader m_telegrams;
    bool m_over = false;
    bool m_logLossTold = false;
    int m_exitCode = kExitTimeOut;
    int m_tries = 0;
    std::optional<std::uint32_t> m_retryAt;                  // the tick count the next try starts at
    BlockCheckResult m_listenCheck = BlockCheckResult::None; // the worst of the telegrams
    bool m_stopping = false; // a stop signal waits for the end of the telegram in progress
};

// The program: parses `args`, answers --help, --version and usage errors, opens the
// capture file, and runs one readout on `port` with the Qt event loop (which must
// exist). `openAdvice` says what the user can do about a port that did not open
// (empty: nothing to add). Returns the exit status.
int RunProgram(const std::vector<std::string>& args, Port& port, Clock& clock, std::ostream& out,
               std::ostream& err, const RunPlaces& places, const std::function<std::string()>& openAdvice);

} // namespace varnel::cli
