// varnel-read: one readout on the command line, with the window's engine,
// rows and trace log.

#include "ReadRun.h"

#include "core/Clock.h"
#include "serial/DeviceAccess.h"
#include "serial/NetworkPort.h"
#include "serial/PortRouter.h"
#include "serial/QtSerialPortBackend.h"
#include "settings/Settings.h"

#include <QCoreApplication>

#include <iostream>

int main(int argc, char** argv)
{
    using namespace varnel;
    QCoreApplication app(argc, argv);
    QtSerialPortBackend backend;
    NetworkPort network;
    PortRouter port(backend, network);
    SystemClock clock;
    return cli::RunProgram(
        {argv + 1, argv + argc}, port, clock, std::cout, std::cerr, {SettingsFilePath()}, [&] {
            return !port.OpenedNetwork() && backend.OpenDenied() ? AccessDeniedReason(backend.Device()) : "";
        });
}
