#include "ReadRun.h"

#include "core/ControlIds.h"
#include "serial/CapturePort.h"
#include "settings/Settings.h"

#include "VarnelVersion.h"

#include <QCoreApplication>

namespace varnel::cli {

ReadRun::ReadRun(const Options& options, Port& port, Clock& clock, std::ostream& out, std::ostream& err,
                 const RunPlaces& places)
    : m_options(options),
      m_settingsFile(places.settingsFile),
      m_view(m_options, out, err),
      m_core(port, clock, m_view, m_names, places.logPath),
      m_telegrams(m_core.serial, m_core.rows, m_view, clock),
      m_err(err)
{
    LoadPortMappings(m_names, m_settingsFile);
    m_view.SetSerial(&m_core.serial);
    m_view.onTimer = [this](int id) {
        if (id == TIMER_RECEIVE && Tick())
            QCoreApplication::exit(0);
    };
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
    if (m_options.listen) {
        m_telegrams.OnReceiveTick();
        if (m_telegrams.Telegrams() >= m_options.count)
            End(kExitBlockCheck);
        else if (m_telegrams.TimedOut())
            End(kExitTimeOut);
        TellLogLoss();
        return m_over;
    }
    m_core.engine.OnReceiveTick();
    TellLogLoss();
    // The readout ends with the tick in which it came back to idle (block check
    // byte or time-out): the rest of that tick is still processed, so a break or
    // password message that came with the block check byte is shown (and a break
    // answered), and a block that follows at once does not keep the program waiting.
    if (m_core.engine.LastEnd() != ReadoutEnd::None)
        End(m_core.engine.LastEnd() == ReadoutEnd::BlockCheck ? kExitBlockCheck : kExitTimeOut);
    return m_over;
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
    if (m_exitCode != kExitOpenFailed)
        m_view.Finish();
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
    if (!run.Start()) {
        if (const std::string advice = openAdvice ? openAdvice() : std::string(); !advice.empty())
            err << advice << '\n';
        return run.Finish();
    }
    QCoreApplication::exec();
    return run.Finish();
}

} // namespace varnel::cli
