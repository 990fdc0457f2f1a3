#pragma once

#include "readout/ReadoutEngine.h"
#include "readout/ResultLog.h"
#include "serial/SerialLine.h"

#include <string>

namespace varnel {

// The readout components wired together, as the window and varnel-read own them.
struct ReadoutCore {
    ReadoutCore(Port& port, Clock& clock, View& view, const PortNames& names,
                std::string logPath = kTraceLogName)
        : rows(view, std::move(logPath)),
          serial(port, clock, view, names),
          engine(serial, rows, view, clock)
    {
        serial.SetSentBytesSink(&rows);
    }

    ResultLog rows;
    SerialLine serial;
    ReadoutEngine engine;
};

} // namespace varnel
