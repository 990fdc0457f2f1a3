#pragma once

#include <QApplication>

namespace varnel {

// The application object: start-up, one modal run of the window, shut-down.
class CReadoutApp {
public:
    CReadoutApp(int& argc, char** argv);

    // Runs the window modally and returns the process's exit code once it ends.
    // The command line is not examined.
    int InitInstance();

private:
    QApplication m_app;
};

} // namespace varnel
