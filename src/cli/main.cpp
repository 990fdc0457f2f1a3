// varnel-read: one readout on the command line, with the window's engine,
// rows and trace log.

#include "CliOptions.h"
#include "CliView.h"

#include "core/Clock.h"
#include "core/ControlIds.h"
#include "readout/ReadoutCore.h"
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
    QtSerialPortBackend port;
    SystemClock clock;
    cli::CliView view(*options, std::cout, std::cerr);
    ReadoutCore core(port, clock, view, names);
    view.SetSerial(&core.serial);

    if (options->port.empty())
        core.serial.m_portIndex = LoadSettings().portIndex;
    else
        cli::SelectPort(options->port, core.serial);

    int exitCode = kExitTimeOut;
    view.onTimer = [&](int id) {
        if (id != TIMER_RECEIVE)
            return;
        core.engine.OnReceiveTick();
        // The readout ends with the tick in which it came back to idle (block
        // check byte or time-out): the rest of that tick is still processed, so a
        // break or password message that came with the block check byte is shown
        // (and a break answered), and a block that follows at once does not keep
        // the program waiting.
        if (core.engine.LastEnd() != ReadoutEnd::None) {
            exitCode = core.engine.LastEnd() == ReadoutEnd::BlockCheck ? kExitBlockCheck : kExitTimeOut;
            view.StopTimer(TIMER_RECEIVE);
            QCoreApplication::exit(0);
        }
    };

    core.engine.StartReadout();
    if (!core.serial.IsOpen()) {
        if (port.OpenDenied())
            std::cerr << AccessDeniedReason(port.Device()) << '\n';
        return kExitOpenFailed;
    }
    app.exec();
    view.Finish();
    return exitCode;
}
