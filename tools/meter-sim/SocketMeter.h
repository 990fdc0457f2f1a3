#pragma once

#include "MeterProtocol.h"
#include "Telnet.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace varnel::sim {

// The simulated meter on a virtual machine's serial port: a telnet server on a
// Unix socket, which the meter connects to and serves on a thread of its own.
// A socket carries no line settings, so the meter paces at the rates the
// exchange agreed; it can carry a line break.
class SocketMeter {
public:
    SocketMeter(MeterConfig config, std::string socketPath);
    ~SocketMeter();
    SocketMeter(const SocketMeter&) = delete;
    SocketMeter& operator=(const SocketMeter&) = delete;

    // Connects and starts serving; `error` tells what failed.
    bool Start(std::string& error);
    // Stops serving and closes the connection. Idempotent.
    void Stop();
    // Sends a line break after what is already on its way. Any thread.
    void SendBreak();

    // Called on the meter's thread; set them before Start.
    std::function<void(const ReadoutReport&)> onReport;
    // The far end closed the line, or a hang-up fault found it gone.
    std::function<void(const std::string& reason)> onClosed;

private:
    bool Connect(std::string& error);
    void Run();
    void Wake();
    void DeliverReports();

    std::unique_ptr<MeterSide> m_meter;
    std::string m_path;
    int m_fd = -1;
    int m_wake[2] = {-1, -1};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_breakWanted{false};
    TelnetDecoder m_decoder;
    std::thread m_thread;
};

} // namespace varnel::sim
