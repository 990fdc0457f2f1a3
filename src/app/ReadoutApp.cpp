#include "ReadoutApp.h"

#include "ReadoutDlg.h"
#include "StartSettings.h"
#include "core/Clock.h"
#include "serial/DeviceAccess.h"
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
    SystemPort port;
    SystemClock clock;
    CReadoutDlg dlg(port, clock, settings.names, settings.window);
    dlg.Widgets().SetMessageDetail([&port](const std::string& text) {
        return text == kOpenPortError && port.OpenDenied() ? AccessDeniedReason(port.Device())
                                                           : std::string();
    });
    dlg.SetDestroyHandler(
        [](int portIndex, const QRect& restoredRect) { SaveWindowSettings(portIndex, restoredRect); });
    // Whatever the window's result, the program ends with it.
    dlg.exec();
    return 0;
}

} // namespace varnel
