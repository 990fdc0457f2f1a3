#include "ReadoutApp.h"

#include "ReadoutDlg.h"
#include "core/Clock.h"
#include "serial/PortNames.h"
#include "serial/QtSerialPortBackend.h"

namespace varnel {

namespace {

// The one place the window's settings come from and go back to. Until the
// settings file is read here, every run starts as a first run.
struct StartSettings {
    WindowSettings window;
    PortNames names;
};

StartSettings LoadStartSettings()
{
    return {};
}

void SaveWindowSettings(int portIndex, const QRect& restoredRect)
{
    (void)portIndex;
    (void)restoredRect;
}

} // namespace

CReadoutApp::CReadoutApp(int& argc, char** argv) : m_app(argc, argv) {}

int CReadoutApp::InitInstance()
{
    const StartSettings settings = LoadStartSettings();
    QtSerialPortBackend port;
    SystemClock clock;
    CReadoutDlg dlg(port, clock, settings.names, settings.window);
    dlg.SetDestroyHandler(SaveWindowSettings);
    // Whatever the window's result, the program ends with it.
    dlg.exec();
    return 0;
}

} // namespace varnel
