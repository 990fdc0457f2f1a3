#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace varnel {

// A desktop logout (SIGTERM), a closed terminal (SIGHUP) and Ctrl-C (SIGINT)
// end the program through `onStop` on the event loop, as Exit does, instead
// of killing it with its settings unwritten. The handler only writes to a
// pipe. After the first signal the default action is back, so a second one
// ends a program whose clean end hangs.
class StopSignals final : public QObject {
public:
    explicit StopSignals(std::function<void()> onStop);
    ~StopSignals() override;
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    void OnSignal();
    void Restore();

    std::function<void()> m_onStop;
    int m_pipe[2] = {-1, -1};
    QSocketNotifier* m_notifier = nullptr;
    bool m_installed = false;
};

} // namespace varnel
