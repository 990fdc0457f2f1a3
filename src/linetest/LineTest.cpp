#include "linetest/LineTest.h"

#include "core/ControlIds.h"
#include "core/View.h"
#include "serial/SerialLine.h"

namespace varnel {

LineTest::LineTest(SerialLine& serial, View& view) : m_serial(serial), m_view(view) {}

// Each pair shares one rectangle: hide the stale disc before showing the other,
// so the two never overlap on screen.
void LineTest::ShowTxd(bool breakHeld)
{
    m_view.ShowControl(breakHeld ? IDC_TXD_RED : IDC_TXD_GREEN, false);
    m_view.ShowControl(breakHeld ? IDC_TXD_GREEN : IDC_TXD_RED, true);
}

void LineTest::ShowRxd(bool breakSeen)
{
    m_view.ShowControl(breakSeen ? IDC_RXD_RED : IDC_RXD_GREEN, false);
    m_view.ShowControl(breakSeen ? IDC_RXD_GREEN : IDC_RXD_RED, true);
}

void LineTest::ResetIndicators()
{
    ShowTxd(false);
    ShowRxd(false);
}

void LineTest::OnTest()
{
    m_view.StopTimer(TIMER_RECEIVE);
    // Always the same bottom, so a second Test leaves the size as it is.
    m_view.SetWindowBottom(m_posDY + kLineTestRowHeight);
    m_serial.ClosePort();
    ResetIndicators();
    m_serial.m_breakOn = 0;
    m_serial.m_testMode = 1;
    if (m_serial.OpenPort() == 0) {
        m_view.StartTimer(TIMER_LINE_STATUS, kLineStatusPeriod);
    } else {
        m_view.ShowMessage(kOpenPortError, MessageIcon::Stop);
        m_serial.m_testMode = 0;
    }
}

void LineTest::OnBreak()
{
    if (m_serial.m_testMode == 0) {
        OnTest();
        // The failed open has had its message; a second box would only repeat it.
        if (m_serial.m_testMode == 0)
            return;
    }
    if (!m_serial.IsOpen()) {
        m_view.ShowMessage(kPortNotOpened, MessageIcon::Stop);
        return;
    }
    const bool on = m_serial.m_breakOn == 0;
    m_serial.m_breakOn = on ? 1 : 0;
    m_serial.SetBreak(on);
    ShowTxd(on);
}

void LineTest::OnRts()
{
    if (m_serial.IsOpen())
        m_serial.SetRts(m_view.IsChecked(IDC_RTS));
}

void LineTest::OnDtr()
{
    if (m_serial.IsOpen())
        m_serial.SetDtr(m_view.IsChecked(IDC_DTR));
}

// The tool tip is the only place the window explains a red RxD that can never
// turn green; it is set when a port first fails to report and taken away as
// soon as a port reports again, so it never outlives the port it describes.
void LineTest::SayBreakUnsupported(bool unsupported)
{
    if (unsupported == m_breakUnsupportedShown)
        return;
    m_breakUnsupportedShown = unsupported;
    m_view.SetControlToolTip(IDC_RXD_RED, unsupported ? kBreakUnsupportedTip : "");
}

void LineTest::RefreshLineStatus()
{
    // Stopped while the query runs, so ticks never pile up behind a slow driver.
    m_view.StopTimer(TIMER_LINE_STATUS);
    if (m_serial.IsOpen()) {
        // A port that cannot answer (or a failed query) leaves RxD red.
        const BreakSeen seen = m_serial.TakeBreakSeen();
        ShowRxd(seen == BreakSeen::Yes);
        SayBreakUnsupported(seen == BreakSeen::Unsupported);
    }
    m_view.StartTimer(TIMER_LINE_STATUS, kLineStatusPeriod);
}

void LineTest::LeaveLineTest()
{
    m_view.StopTimer(TIMER_LINE_STATUS);
    ResetIndicators();
    m_serial.m_testMode = 0;
    m_serial.m_breakOn = 0;
}

} // namespace varnel
