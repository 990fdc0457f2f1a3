#include "ReadoutApp.h"

#include "ReadoutDlg.h"
#include "StartSettings.h"
#include "core/Clock.h"
#include "serial/QtSerialPortBackend.h"

namespace varnel {

CReadoutApp::CReadoutApp(int& argc, char** argv) : m_app(argc, argv) {}

int CReadoutApp::InitInstance()
{
    const StartSettings settings = LoadStartSettings();
    QtSerialPortBackend port;
    SystemClock clock;
    CReadoutDlg dlg(port, clock, settings.names, settings.window);
    dlg.SetDestroyHandler([](int portIndex, const QRect& restoredRect) {
        SaveWindowSettings(portIndex, restoredRect);
    });
    // Whatever the window's result, the program ends with it.
    dlg.exec();
    return 0;
}

} // namespace varnel
