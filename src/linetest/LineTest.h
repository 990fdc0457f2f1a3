#pragma once

namespace varnel {

class SerialLine;
class View;

// Line test mode: break on TxD, RTS/DTR by hand, and the RxD break indicator.
// The flags m_testMode and m_breakOn live in SerialLine, whose open reads them.
class LineTest {
public:
    LineTest(SerialLine& serial, View& view);

    // The window's start-up height (pixels); Test extends the window to 50 below it.
    void SetLayoutHeight(int posDY) { m_posDY = posDY; }

    void OnTest();
    void OnBreak();
    void OnRts();
    void OnDtr();
    void RefreshLineStatus();
    void LeaveLineTest();

private:
    void ResetIndicators();

    SerialLine& m_serial;
    View& m_view;
    int m_posDY = 300;
    bool m_breakUnsupportedShown = false;
};

} // namespace varnel
