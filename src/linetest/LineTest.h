#pragma once

#include <chrono>

namespace varnel {

class SerialLine;
class View;

// The line-status refresh re-arms itself with this period after each tick.
constexpr std::chrono::milliseconds kLineStatusPeriod{500};
// Test extends the window to this many pixels below its start-up height, which
// brings the line-test row into view.
constexpr int kLineTestRowHeight = 50;

inline constexpr const char* kPortNotOpened = "Port COM is not opened";
inline constexpr const char* kBreakUnsupportedTip = "This port cannot report breaks on RxD";

// Line test mode: break on TxD, RTS/DTR by hand, and the RxD break indicator.
// The flags m_testMode and m_breakOn live in SerialLine, whose open reads them.
class LineTest {
public:
    LineTest(SerialLine& serial, View& view);

    // The window's start-up height (pixels); Test extends the window to kLineTestRowHeight below it.
    void SetLayoutHeight(int posDY) { m_posDY = posDY; }

    void OnTest();
    void OnBreak();
    void OnRts();
    void OnDtr();
    void RefreshLineStatus();
    void LeaveLineTest();

private:
    void ResetIndicators();
    void ShowTxd(bool breakHeld);
    void ShowRxd(bool breakSeen);
    void SayBreakUnsupported(bool unsupported);

    SerialLine& m_serial;
    View& m_view;
    int m_posDY = 300;
    bool m_breakUnsupportedShown = false;
};

} // namespace varnel
