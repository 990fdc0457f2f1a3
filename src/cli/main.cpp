// varnel-read: one readout on the command line, with the window's engine,
// rows and trace log.

#include "ReadRun.h"

#include "core/Clock.h"
#include "serial/DeviceAccess.h"
#include "serial/NetworkPort.h"
#include "serial/PortRouter.h"
#include "serial/SystemPort.h"
#include "settings/Settings.h"

#include <QCoreApplication>

#include <iostream>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv)
{
    using namespace varnel;
    QCoreApplication app(argc, argv);
#ifdef _WIN32
    // The bytes of the rows as on Linux: a CSV line's CR LF must not become CR CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    SystemPort backend;
    NetworkPort network;
    PortRouter port(backend, network);
    SystemClock clock;
    return cli::RunProgram(
        {argv + 1, argv + argc}, port, clock, std::cout, std::cerr, {SettingsFileToRead()}, [&] {
            return !port.OpenedNetwork() && backend.OpenDenied() ? AccessDeniedReason(backend.Device()) : "";
        });
}
