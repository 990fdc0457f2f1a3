#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace varnel::cli {

// SIGINT and SIGTERM as events of the Qt event loop: the handler only writes the
// signal's number into a pipe, whose reading end a socket notifier watches, so
// that the run ends through its ordinary path (rows printed, log closed, port
// released). The signals take their default action again when this ends. On Windows, where
// no pipe can be watched so, the signals keep their default action.
class StopSignals {
public:
    explicit StopSignals(std::function<void(int signal)> onSignal);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    std::function<void(int)> m_onSignal;
    int m_pipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace varnel::cli
