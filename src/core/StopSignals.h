#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace varnel {

// Which stop signals a program takes as an end of its own, and what becomes of
// those that follow the first.
enum class StopOn { InterruptTerminate, AlsoHangUp };
enum class LaterStops { Handled, DefaultAction };

// Stop signals as events of the Qt event loop, so that a program ends through
// its ordinary path (rows printed, settings written, log closed, port released)
// instead of being killed half-way. The handler only writes the signal's number
// into a pipe whose reading end a socket notifier watches. With DefaultAction,
// a second signal ends a program whose clean end hangs. The signals take their
// default action again when this ends. On Windows, where no pipe can be
// watched so, the signals keep their default action.
class StopSignals {
public:
    StopSignals(StopOn which, LaterStops later, std::function<void(int signal)> onSignal);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    void Restore();

    StopOn m_signals;
    LaterStops m_later;
    std::function<void(int)> m_onSignal;
    int m_pipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_installed = false;
};

} // namespace varnel
