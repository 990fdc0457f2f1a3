#pragma once

#include "MeterProtocol.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <termios.h>

namespace varnel::sim {

// The simulated meter on a pseudo-terminal, served on a thread of its own.
// The reader opens DevicePath() (or the link); the meter answers each request.
// Every reader finds the line as a fresh pseudo-terminal has it, also after
// one that was killed: a pseudo-terminal keeps its settings and its exclusive
// flag while the meter holds its master side.
class PtyMeter {
public:
    explicit PtyMeter(MeterConfig config, std::string linkPath = {});
    PtyMeter(std::unique_ptr<MeterSide> meter, std::string linkPath);
    ~PtyMeter();
    PtyMeter(const PtyMeter&) = delete;
    PtyMeter& operator=(const PtyMeter&) = delete;

    enum class StartResult { Ok, DeviceFailed, LinkFailed };
    // Creates the device (and the link) and starts serving; `error` tells
    // what failed.
    StartResult Start(std::string& error);
    // Stops serving, closes the device and removes the link. Idempotent.
    void Stop();

    // The slave device; a hang-up fault replaces it with a new one.
    std::string DevicePath() const;
    std::vector<ReadoutReport> Reports() const;
    // Waits until `count` readouts have ended; false on time-out.
    bool WaitForReports(std::size_t count, std::chrono::milliseconds timeout) const;

    // Called on the meter's thread; set them before Start.
    std::function<void(const ReadoutReport&)> onReport;
    std::function<void(const std::string& device)> onNewDevice;

    // The rate the reader has set on its end, read through the master.
    static int LineBaud(int masterFd);

private:
    bool OpenDevice(std::string& error);
    void CloseDevice();
    bool UpdateLink(std::string& error);
    // After opens or closes of the device by others: a line no reader holds is
    // made fresh and what the meter sends goes nowhere; a new reader ends the
    // readout that those before it left. Either drops what is `pending`.
    void OnOpensAndCloses(std::string& pending);
    std::set<std::string> Holders() const;
    void Run();
    void WritePending(std::string& pending);
    void DeliverReports();

    std::unique_ptr<MeterSide> m_meter;
    std::string m_linkPath;
    int m_master = -1;
    int m_slave = -1;                // held open so the master never sees a hang-up between readers
    int m_watch = -1;                // inotify: the device's opens and closes
    std::set<std::string> m_holders; // process ids
    bool m_unheld = false;
    termios m_fresh{}; // what a reader finds
    int m_wake[2] = {-1, -1};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::string m_device;
    std::vector<ReadoutReport> m_reports;
};

} // namespace varnel::sim
