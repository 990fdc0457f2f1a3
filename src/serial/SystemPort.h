#pragma once

// The port of this system, for the programs to create: the one place that
// chooses the backend.
#ifdef _WIN32
#include "serial/Win32SerialPort.h"
namespace varnel {
using SystemPort = Win32SerialPort;
}
#else
#include "serial/QtSerialPortBackend.h"
namespace varnel {
using SystemPort = QtSerialPortBackend;
}
#endif
