#include "ReadoutApp.h"

#include "ReadoutDlg.h"
#include "StartSettings.h"
#include "core/StopSignals.h"
#include "core/Clock.h"
#include "serial/DeviceAccess.h"
#include "serial/NetworkPort.h"
#include "serial/PortRouter.h"
#include "serial/SystemPort.h"
#include "serial/SerialLine.h"

#include "VarnelVersion.h"

namespace varnel {

CReadoutApp::CReadoutApp(int& argc, char** argv) : m_app(argc, argv)
{
    QCoreApplication::setApplicationName(QStringLiteral(VARNEL_NAME));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARNEL_VERSION));
    // Lets the desktop match the window to its entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(VARNEL_DESKTOP_ID));
}

int CReadoutApp::InitInstance()
{
    const StartSettings settings = LoadStartSettings();
    SystemPort serial;
    NetworkPort network;
    PortRouter port(serial, network);
    SystemClock clock;
    CReadoutDlg dlg(port, clock, settings.names, settings.window);
    dlg.Widgets().SetMessageDetail([&](const std::string& text) {
        if (text != kOpenPortError)
            return std::string();
        // A network port's reason (refused, no route, name not found, time-out) is all the user can act on.
        if (port.OpenedNetwork())
            return dlg.Core().serial.DeviceName() + ": " + port.LastError();
        return serial.OpenDenied() ? AccessDeniedReason(serial.Device()) : std::string();
    });
    dlg.SetDestroyHandler(
        [](int portIndex, const QRect& restoredRect) { SaveWindowSettings(portIndex, restoredRect); });
    // A stop signal ends the window as Exit does; a message box it shows is closed first.
    const StopSignals stop(StopOn::AlsoHangUp, LaterStops::DefaultAction, [&dlg](int) {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QDialog*>(window); box && box != &dlg && box->isVisible())
                box->reject();
        dlg.reject();
    });
    // Whatever the window's result, the program ends with it.
    dlg.exec();
    return 0;
}

} // namespace varnel
