// varnel-read: one readout on the command line, with the window's engine,
// rows and trace log.

#include "CliOptions.h"
#include "CliView.h"

#include "core/Clock.h"
#include "core/ControlIds.h"
#include "readout/ReadoutCore.h"
#include "readout/TelegramReader.h"
#include "serial/CapturePort.h"
#include "serial/PortNames.h"
#include "serial/QtSerialPortBackend.h"
#include "serial/DeviceAccess.h"
#include "settings/Settings.h"

#include "VarnelVersion.h"

#include <QCoreApplication>

#include <iostream>

namespace {

constexpr int kExitBlockCheck = 0;
constexpr int kExitOpenFailed = 1;
constexpr int kExitTimeOut = 2;
constexpr int kExitUsage = 64;
constexpr int kExitCantCreate = 73;

} // namespace

int main(int argc, char** argv)
{
    using namespace varnel;

    std::string error;
    const auto options = cli::ParseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::cerr << "varnel-read: " << error << '\n' << cli::Usage();
        return kExitUsage;
    }
    if (options->help) {
        std::cout << cli::Usage();
        return 0;
    }
    if (options->version) {
        std::cout << "varnel-read (" VARNEL_NAME ") " VARNEL_VERSION "\n";
        return 0;
    }

    QCoreApplication app(argc, argv);

    PortNames names;
    LoadPortMappings(names);
    QtSerialPortBackend backend;
    SystemClock clock;
    CapturePort capture(backend, clock);
    if (!options->capture.empty()) {
        if (!capture.OpenFile(options->capture, error)) {
            std::cerr << "varnel-read: cannot create the capture: " << error << '\n';
            return kExitCantCreate;
        }
    }
    Port& port = options->capture.empty() ? static_cast<Port&>(backend) : capture;
    cli::CliView view(*options, std::cout, std::cerr);
    ReadoutCore core(port, clock, view, names);
    view.SetSerial(&core.serial);
    TelegramReader telegrams(core.serial, core.rows, view, clock);

    if (options->port.empty())
        core.serial.m_portIndex = LoadSettings().portIndex;
    else
        cli::SelectPort(options->port, core.serial);

    int exitCode = kExitTimeOut;
    const auto finish = [&](int code) {
        exitCode = code;
        view.StopTimer(TIMER_RECEIVE);
        QCoreApplication::exit(0);
    };
    view.onTimer = [&](int id) {
        if (id != TIMER_RECEIVE)
            return;
        if (options->listen) {
            telegrams.OnReceiveTick();
            if (telegrams.Telegrams() >= options->count)
                finish(kExitBlockCheck);
            else if (telegrams.TimedOut())
                finish(kExitTimeOut);
            return;
        }
        core.engine.OnReceiveTick();
        // The readout ends with the tick in which it came back to idle (block
        // check byte or time-out): the rest of that tick is still processed, so a
        // break or password message that came with the block check byte is shown
        // (and a break answered), and a block that follows at once does not keep
        // the program waiting.
        if (core.engine.LastEnd() != ReadoutEnd::None)
            finish(core.engine.LastEnd() == ReadoutEnd::BlockCheck ? kExitBlockCheck : kExitTimeOut);
    };

    if (options->listen) {
        core.serial.m_eightBits = options->eightBits;
        telegrams.Start(options->listenBaud, options->count);
    } else {
        core.engine.SetAddress(options->address);
        core.engine.StartReadout();
    }
    if (!core.serial.IsOpen()) {
        if (backend.OpenDenied())
            std::cerr << AccessDeniedReason(backend.Device()) << '\n';
        return kExitOpenFailed;
    }
    app.exec();
    view.Finish();
    return exitCode;
}
