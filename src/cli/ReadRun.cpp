#include "ReadRun.h"

#include "core/StopSignals.h"

#include "core/Clock.h"
#include "core/ControlIds.h"
#include "serial/CapturePort.h"
#include "settings/Settings.h"

#include "VarnelVersion.h"

#include <QCoreApplication>

#include <csignal>

namespace varnel::cli {

ReadRun::ReadRun(const Options& options, Port& port, Clock& clock, std::ostream& out, std::ostream& err,
                 const RunPlaces& places)
    : m_options(options),
      m_settingsFile(places.settingsFile),
      m_clock(clock),
      m_err(err),
      m_view(m_options, out, err),
      m_core(port, clock, m_view, m_names, places.logPath),
      m_telegrams(m_core.serial, m_core.rows, m_view, clock)
{
    LoadPortMappings(m_names, m_settingsFile);
    m_view.SetSerial(&m_core.serial);
    m_view.onTimer = [this](int id) {
        if (id == TIMER_RECEIVE && Tick())
            QCoreApplication::exit(0);
    };
    m_telegrams.onTelegramEnd = [this](BlockCheckResult check) { OnTelegramEnd(check); };
}

bool ReadRun::Start()
{
    if (m_options.port.empty())
        m_core.serial.m_portIndex = LoadSettings(m_settingsFile).portIndex;
    else
        SelectPort(m_options.port, m_core.serial);
    if (m_options.listen) {
        m_core.serial.m_eightBits = m_options.eightBits;
        m_telegrams.Start(m_options.listenBaud, m_options.count);
    } else {
        m_core.engine.SetAddress(m_options.address);
        m_core.engine.StartReadout();
        m_tries = 1;
    }
    if (!m_core.serial.IsOpen())
        End(kExitOpenFailed);
    TellLogLoss();
    return !m_over;
}

bool ReadRun::Tick()
{
    if (m_over)
        return true;
    if (!m_options.listen) {
        TickReadout();
        TellLogLoss();
        return m_over;
    }
    m_telegrams.OnReceiveTick();
    KeepLogBounded();
    TellLogLoss();
    if (m_telegrams.Done())
        End(ListenStatus());
    else if (m_telegrams.TimedOut())
        End(kExitTimeOut);
    return m_over;
}

bool ReadRun::TickReadout()
{
    if (m_retryAt) {
        if (static_cast<std::int32_t>(m_clock.TickCount() - *m_retryAt) < 0)
            return false;
        m_retryAt.reset();
        m_core.rows.AddRow(" -- Retry " + std::to_string(m_tries++) + " -- ", false);
        m_core.engine.StartReadout();
        if (!m_core.serial.IsOpen())
            End(kExitOpenFailed);
        return m_over;
    }
    m_core.engine.OnReceiveTick();
    // The readout ends with the tick in which it came back to idle (block check
    // byte or time-out): the rest of that tick is still processed, so a break or
    // password message that came with the block check byte is shown (and a break
    // answered), and a block that follows at once does not keep the program waiting.
    const ReadoutEnd end = m_core.engine.LastEnd();
    if (end == ReadoutEnd::None)
        return false;
    const int status = end == ReadoutEnd::TimeOut                                  ? kExitTimeOut
                       : m_core.engine.LastBlockCheck() == BlockCheckResult::Error ? kExitCheckFailed
                                                                                   : kExitBlockCheck;
    if (status != kExitBlockCheck && m_tries <= m_options.retries) {
        // The bytes of the failed try stay unread: the next try purges them. Its log
        // goes on after this one's, as the text output does.
        m_retryAt = m_clock.TickCount() + static_cast<std::uint32_t>(kRetryPause.count());
        m_core.rows.SetLogAppend(true);
        return false;
    }
    End(status);
    return true;
}

bool ReadRun::OnStopSignal(int signal)
{
    if (m_over)
        return true;
    const bool following = m_options.listen && m_options.count == 0;
    if (following && !m_stopping && m_telegrams.InTelegram()) {
        m_stopping = true;
        m_telegrams.StopAfterTelegram();
        return false;
    }
    End(following && !m_stopping ? ListenStatus() : signal == SIGTERM ? kExitSigTerm : kExitSigInt);
    return true;
}

void ReadRun::OnTelegramEnd(BlockCheckResult check)
{
    m_listenCheck = std::max(m_listenCheck, check);
    if (m_options.format == Format::Jsonl)
        m_view.EndTelegram(check, m_clock.UtcMilliseconds());
    // Rows of finished telegrams are not kept: the memory of a run stays flat however long it follows.
    if (m_options.format == Format::Jsonl || m_options.count == 0)
        m_core.rows.ClearRows();
}

int ReadRun::ListenStatus() const
{
    return m_listenCheck == BlockCheckResult::Error ? kExitCheckFailed : kExitBlockCheck;
}

void ReadRun::KeepLogBounded()
{
    // Between telegrams where it can, so that a telegram stays in one file; during one
    // only at twice the size, for a line whose telegrams never end.
    const std::string& path = m_core.rows.LogPath();
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (!m_core.rows.IsLogOpen() || ec || size <= (m_telegrams.InTelegram() ? 2 : 1) * kListenLogCap)
        return;
    m_core.rows.CloseLog();
    std::filesystem::rename(path, path + ".1", ec);
    m_core.rows.OpenLog();
}

void ReadRun::End(int exitCode)
{
    m_over = true;
    m_exitCode = exitCode;
    m_view.StopTimer(TIMER_RECEIVE);
}

void ReadRun::TellLogLoss()
{
    const std::string& reason = m_core.rows.LogError();
    if (reason.empty() || m_logLossTold)
        return;
    m_logLossTold = true;
    m_err << "varnel-read: the trace log " << m_core.rows.LogPath() << " was not written: " << reason << '\n'
          << std::flush;
}

int ReadRun::Finish()
{
    m_core.rows.CloseLog();
    TellLogLoss();
    m_view.SetLogLoss(m_core.rows.LogError());
    if (m_exitCode != kExitOpenFailed) {
        const BlockCheckResult check = m_options.listen ? m_listenCheck : m_core.engine.LastBlockCheck();
        m_view.Finish(check, m_clock.UtcMilliseconds());
    }
    if (m_exitCode == kExitCheckFailed)
        m_err << "varnel-read: " << (m_options.listen ? "a telegram" : "the block")
              << " arrived but its check failed\n";
    if (m_options.retries > 0)
        m_err << "varnel-read: " << m_tries << (m_tries == 1 ? " try\n" : " tries\n");
    m_core.serial.ClosePort();
    return m_exitCode;
}

int RunProgram(const std::vector<std::string>& args, Port& port, Clock& clock, std::ostream& out,
               std::ostream& err, const RunPlaces& places, const std::function<std::string()>& openAdvice)
{
    std::string error;
    const auto options = ParseOptions(args, error);
    if (!options) {
        err << "varnel-read: " << error << '\n' << Usage();
        return kExitUsage;
    }
    if (options->help) {
        out << Usage();
        return 0;
    }
    if (options->version) {
        out << "varnel-read (" VARNEL_NAME ") " VARNEL_VERSION "\n";
        return 0;
    }

    CapturePort capture(port, clock);
    if (!options->capture.empty() && !capture.OpenFile(options->capture, error)) {
        err << "varnel-read: cannot create the capture: " << error << '\n';
        return kExitCantCreate;
    }
    ReadRun run(*options, options->capture.empty() ? port : capture, clock, out, err, places);
    // From here on a stop signal ends the run through Finish, never half-way.
    const StopSignals stopSignals(StopOn::InterruptTerminate, LaterStops::Handled, [&run](int signal) {
        if (run.OnStopSignal(signal))
            QCoreApplication::exit(0);
    });
    if (!run.Start()) {
        if (const std::string advice = openAdvice ? openAdvice() : std::string(); !advice.empty())
            err << advice << '\n';
        return run.Finish();
    }
    QCoreApplication::exec();
    return run.Finish();
}

} // namespace varnel::cli
