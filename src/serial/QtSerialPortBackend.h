#pragma once

#include "serial/Port.h"

#include <QPointer>
#include <QSerialPort>
#include <QSocketNotifier>

#include <cstdint>
#include <string>

namespace varnel {

// The real port: QSerialPort for the line, a few platform calls for what it
// lacks (an exclusive lock that holds for root, break detection).
//
// A device that vanishes (probe unplugged, pseudo-terminal master closed) is
// released at once, because Qt keeps polling a dead descriptor at full CPU;
// to its caller the port then stays "open" but silent until Close or the
// next Open, and LastError says what happened.
class QtSerialPortBackend final : public Port {
public:
    QtSerialPortBackend();
    ~QtSerialPortBackend() override;
    QtSerialPortBackend(const QtSerialPortBackend&) = delete;
    QtSerialPortBackend& operator=(const QtSerialPortBackend&) = delete;

    bool Open(const std::string& device, const LineSettings& settings, bool forLineTest) override;
    void Close() override;
    bool Apply(const LineSettings& settings) override;
    std::size_t Write(const std::uint8_t* data, std::size_t count) override;
    std::size_t Read(std::uint8_t* data, std::size_t max) override;
    bool Purge() override;
    bool SetBreak(bool on) override;
    bool SetRts(bool on) override;
    bool SetDtr(bool on) override;
    BreakSeen TakeBreakSeen() override;
    std::string LastError() const override { return m_lastError; }

    // The device as opened, symbolic links resolved.
    const std::string& Device() const { return m_device; }
    // Whether the last Open failed because this user may not open the device.
    bool OpenDenied() const { return m_openDenied; }
    // Whether a device is held (false after a vanished device was released).
    bool HoldsDevice() const { return m_port.isOpen(); }

private:
    void OnError(QSerialPort::SerialPortError error);
    void ApplyLineLevels(const LineSettings& settings);
    // Records the reason of a failed call and clears QSerialPort's error so it
    // does not stick; false also when the call found the device gone.
    bool Settle(bool ok);
    void Release();
    void CloseDevice();
    // Keeps QSerialPort from waking the event loop for every byte that comes
    // in; QSerialPort re-arms its notifier with every read.
    void QuietReadNotifier();

    QSerialPort m_port;
    std::string m_device;
    std::string m_lastError;
    // Break counter of the last query; -1 until the first query after an open.
    std::int64_t m_lastBreakCount = -1;
    // Closing a dead device reports errors of its own; they must not re-enter.
    bool m_closing = false;
    bool m_openDenied = false;
    // Set while the readout polls on its own tick: bytes wait in the driver
    // until then. Null in line test mode, where no data is read.
    QPointer<QSocketNotifier> m_readNotifier;
};

} // namespace varnel
