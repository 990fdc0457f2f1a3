#pragma once

#include "MeterProtocol.h"
#include "Telnet.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace varnel::sim {

// The simulated meter on a socket, served on a thread of its own: a virtual
// machine's serial port (a telnet server on a Unix socket, which the meter
// connects to), or a raw TCP server on the loopback interface, as a serial
// converter on the network (one reader at a time; when it leaves, the meter
// waits for the next). A socket carries no line settings, so the meter paces
// at the rates the exchange agreed; only telnet can carry a line break.
class SocketMeter {
public:
    SocketMeter(std::unique_ptr<MeterSide> meter, std::string socketPath);
    struct TcpListen {
        std::uint16_t port = 0; // 0: a free one
    };
    SocketMeter(std::unique_ptr<MeterSide> meter, TcpListen listen);
    ~SocketMeter();
    SocketMeter(const SocketMeter&) = delete;
    SocketMeter& operator=(const SocketMeter&) = delete;

    // Connects and starts serving; `error` tells what failed.
    bool Start(std::string& error);
    // Stops serving and closes the connection. Idempotent.
    void Stop();
    // Sends a line break after what is already on its way (telnet only). Any thread.
    void SendBreak();
    // The TCP port listened on, once started.
    std::uint16_t TcpPort() const { return m_tcpPort; }

    // Called on the meter's thread; set them before Start.
    std::function<void(const ReadoutReport&)> onReport;
    // The far end closed the line, or a hang-up fault found it gone.
    std::function<void(const std::string& reason)> onClosed;

private:
    bool Connect(std::string& error);
    bool Listen(std::string& error);
    // The reader left or was dropped: the readout ends, the next reader is awaited.
    void DropReader();
    void Run();
    void Wake();
    void DeliverReports();

    std::unique_ptr<MeterSide> m_meter;
    std::string m_path;
    int m_fd = -1;
    int m_listen = -1;
    std::uint16_t m_tcpPort = 0;
    bool m_tcp = false;
    int m_wake[2] = {-1, -1};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_breakWanted{false};
    TelnetDecoder m_decoder;
    std::thread m_thread;
};

} // namespace varnel::sim
