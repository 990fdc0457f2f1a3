#include "linetest/LineTest.h"

#include "FakePort.h"
#include "RecordingView.h"
#include "serial/SerialLine.h"

#include <gtest/gtest.h>

namespace varnel {
namespace {

// Calls as "call|call|...|". A disc is turned by hiding the stale one first, so the two never overlap.
const std::string kOpen = "open /dev/ttyS0 300 7E1 rts=1 dtr=1 flow=0000000 linetest|";
const std::string kTxdRed = "hide 1044|show 1043|", kTxdGreen = "hide 1043|show 1044|";
const std::string kStopPoll = "stop 32771|", kStopRefresh = "stop 32772|", kArmRefresh = "start 32772 500|";
const std::string kReset = kTxdRed + "hide 1046|show 1045|", kEntered = kStopPoll + kReset + kArmRefresh;
const std::string kEnterFailed = kStopPoll + kReset + "message Open port COM error|";
const std::string kTickRed = kStopRefresh + "hide 1046|show 1045|" + kArmRefresh;
const std::string kNormal = "test=0 break=0 txd=red rxd=red";
const std::string kInTest = "test=1 break=0 txd=red rxd=red refreshing open";
constexpr int kStartupHeight = 317;

// Break enters the mode holding it (one box if the open fails); Read leaves the port as it is; RTS and DTR
// follow their own box; a tick changes RxD only, and a tool tip says why RxD stays red where it must.
TEST(LineTest, EventsInTurn)
{
    test::FakeClock clock;
    test::FakePort port{&clock};
    test::RecordingView view;
    PortNames names;
    names.SetMapping(1, "/dev/ttyS0");
    SerialLine serial{port, clock, view, names};
    LineTest lineTest{serial, view};
    lineTest.SetLayoutHeight(kStartupHeight);
    // Forwards one event as the window does: "port calls / view calls (timers, discs, boxes) / state".
    const auto on = [&](void (LineTest::*event)()) {
        port.calls.clear(), view.journal.clear(), view.windowBottoms.clear(), view.toolTips.clear();
        (lineTest.*event)();
        std::string portCalls, viewCalls;
        for (const auto& c : port.calls)
            portCalls += c + "|";
        for (const auto& c : view.journal)
            viewCalls += c + "|";
        EXPECT_EQ(view.windowBottoms,
                  std::vector<int>(viewCalls.rfind(kStopPoll, 0) == 0, kStartupHeight + 50));
        const auto disc = [&](int g) { return view.visible[g] ? "green" : "red"; };
        return portCalls + " / " + viewCalls + " / test=" + std::to_string(serial.m_testMode)
               + " break=" + std::to_string(serial.m_breakOn) + " txd=" + disc(IDC_TXD_GREEN)
               + " rxd=" + disc(IDC_RXD_GREEN) + (view.TimerRunning(TIMER_LINE_STATUS) ? " refreshing" : "")
               + (serial.IsOpen() ? " open" : "")
               + (view.toolTips.count(IDC_RXD_RED) ? " tip='" + view.toolTips.at(IDC_RXD_RED) + "'" : "");
    };
    port.failOpen = true;
    EXPECT_EQ(on(&LineTest::OnBreak), kOpen + " / " + kEnterFailed + " / " + kNormal);
    port.failOpen = false;
    const std::string breakOn = "test=1 break=1 txd=green rxd=red refreshing open";
    EXPECT_EQ(on(&LineTest::OnBreak),
              kOpen + "break off|break on| / " + kEntered + kTxdGreen + " / " + breakOn);
    EXPECT_EQ(on(&LineTest::OnBreak), "break off| / " + kTxdRed + " / " + kInTest);
    lineTest.OnBreak();
    EXPECT_EQ(on(&LineTest::LeaveLineTest), " / " + kStopRefresh + kReset + " / " + kNormal + " open");

    // From a readout polling an open port.
    ASSERT_EQ(serial.OpenPort(), 0);
    view.StartTimer(TIMER_RECEIVE, std::chrono::milliseconds(50));
    EXPECT_EQ(on(&LineTest::OnTest), "close|" + kOpen + "break off| / " + kEntered + " / " + kInTest);
    view.checks[IDC_RTS] = false;
    EXPECT_EQ(on(&LineTest::OnRts), "rts off| /  / " + kInTest);
    view.checks = {{IDC_RTS, true}, {IDC_DTR, false}};
    EXPECT_EQ(on(&LineTest::OnDtr), "dtr off| /  / " + kInTest);
    port.breakSeen = BreakSeen::Unsupported;
    EXPECT_EQ(on(&LineTest::RefreshLineStatus),
              "breakseen| / " + kTickRed + " / " + kInTest + " tip='This port cannot report breaks on RxD'");
    port.breakSeen = BreakSeen::Yes;
    EXPECT_EQ(on(&LineTest::RefreshLineStatus),
              "breakseen| / " + kStopRefresh + "hide 1045|show 1046|" + kArmRefresh
                  + " / test=1 break=0 txd=red rxd=green refreshing open tip=''");
    serial.ClosePort();
    EXPECT_EQ(on(&LineTest::OnBreak),
              " / message Port COM is not opened| / test=1 break=0 txd=red rxd=green refreshing");
}

} // namespace
} // namespace varnel
