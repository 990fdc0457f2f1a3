#include "linetest/LineTest.h"

#include "FakeClock.h"
#include "FakePort.h"
#include "RecordingView.h"
#include "core/ControlIds.h"
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
const std::string kTickGreen = kStopRefresh + "hide 1045|show 1046|" + kArmRefresh;
// States: the mode flags, the disc shown of each pair, the status refresh, the port, RxD's tool tip.
const std::string kNormal = "test=0 break=0 txd=red rxd=red";
const std::string kInTest = "test=1 break=0 txd=red rxd=red refreshing open";
const std::string kBreakOn = "test=1 break=1 txd=green rxd=red refreshing open";
constexpr int kStartupHeight = 317;

using Event = void (LineTest::*)(); // the call the window forwards for an event
constexpr Event kTest = &LineTest::OnTest, kBreak = &LineTest::OnBreak, kRead = &LineTest::LeaveLineTest;
constexpr Event kRts = &LineTest::OnRts, kDtr = &LineTest::OnDtr, kTick = &LineTest::RefreshLineStatus;

struct Transition {
    const char* name;
    // The way there: R a readout polling an open port, T Test, B Break, C the port let go under the mode,
    // F a Test whose open fails, U a tick where breaks cannot be seen. Then what the event meets: f a failing
    // open, y a break that came, u no way to see breaks, r or d the RTS or DTR box cleared (else checked).
    const char* from;
    Event event;
    std::string portCalls, viewCalls, after; // view: timers, discs and message boxes, in order
};

struct StateTable : ::testing::TestWithParam<Transition> {
    StateTable() { lineTest.SetLayoutHeight(kStartupHeight); }
    std::string State() const
    {
        const auto disc = [this](int g) {
            return view.visible.count(g) && view.visible.at(g) ? "green" : "red";
        };
        return "test=" + std::to_string(serial.m_testMode) + " break=" + std::to_string(serial.m_breakOn)
               + " txd=" + disc(IDC_TXD_GREEN) + " rxd=" + disc(IDC_RXD_GREEN)
               + (view.TimerRunning(TIMER_LINE_STATUS) ? " refreshing" : "")
               + (serial.IsOpen() ? " open" : "")
               + (view.toolTips.count(IDC_RXD_RED) ? " tip='" + view.toolTips.at(IDC_RXD_RED) + "'" : "");
    }

    test::FakeClock clock;
    test::FakePort port{&clock};
    test::RecordingView view;
    PortNames names;
    SerialLine serial{port, clock, view, names};
    LineTest lineTest{serial, view};
};

TEST_P(StateTable, Transition)
{
    const Transition& t = GetParam();
    for (const char* s = t.from; *s; ++s) {
        port.failOpen = *s == 'F' || *s == 'f';
        port.breakSeen = *s == 'y'                ? BreakSeen::Yes
                         : *s == 'U' || *s == 'u' ? BreakSeen::Unsupported
                                                  : BreakSeen::No;
        switch (*s) {
        case 'R':
            ASSERT_EQ(serial.OpenPort(), 0);
            view.StartTimer(TIMER_RECEIVE, std::chrono::milliseconds(50));
            break;
        case 'T':
        case 'F': lineTest.OnTest(); break;
        case 'B': lineTest.OnBreak(); break;
        case 'C': serial.ClosePort(); break;
        case 'U': lineTest.RefreshLineStatus(); break;
        case 'r': view.checks[IDC_RTS] = false; break;
        case 'd': view.checks[IDC_DTR] = false; break;
        }
    }
    port.calls.clear(), view.journal.clear(), view.windowBottoms.clear(), view.toolTips.clear();

    (lineTest.*t.event)();

    std::string portCalls, viewCalls;
    for (const auto& c : port.calls)
        portCalls += c + "|";
    for (const auto& c : view.journal)
        viewCalls += c + "|";
    EXPECT_EQ(portCalls, t.portCalls);
    EXPECT_EQ(viewCalls, t.viewCalls);
    for (const auto& m : view.messages)
        EXPECT_EQ(m.icon, MessageIcon::Stop) << m.text;
    // Every Test (a second one, one inside Break, a failed one) moves the bottom to the same place.
    EXPECT_EQ(view.windowBottoms,
              std::vector<int>(t.viewCalls.rfind(kStopPoll, 0) == 0, kStartupHeight + 50));
    EXPECT_EQ(State(), t.after);
}

// Break enters the mode holding it (one box if the open fails); Read leaves the port as it is; RTS and DTR
// follow their own box; a tick changes RxD only, and a tool tip says why RxD stays red where it must.
const Transition kTransitions[] = {
    {"TestDuringReadoutStopsPollingAndReopens", "R", kTest, "close|" + kOpen + "break off|", kEntered,
     kInTest},
    {"TestFailsWhileBreakHeldKeepsRefreshing", "TBf", kTest, "close|" + kOpen, kEnterFailed,
     kNormal + " refreshing"},
    {"BreakFromNormalEntersModeAndHoldsIt", "", kBreak, kOpen + "break off|break on|", kEntered + kTxdGreen,
     kBreakOn},
    {"BreakOpenFailsOneBox", "f", kBreak, kOpen, kEnterFailed, kNormal},
    {"BreakWhileHeldReleasesIt", "TB", kBreak, "break off|", kTxdRed, kInTest},
    {"BreakWithNoPortSaysSo", "TC", kBreak, "", "message Port COM is not opened|",
     "test=1 break=0 txd=red rxd=red refreshing"},
    {"ReadWhileBreakHeld", "TB", kRead, "", kStopRefresh + kReset, kNormal + " open"},
    {"RtsWhileBreakHeld", "TB", kRts, "rts on|", "", kBreakOn},
    {"RtsClearedWhileTesting", "Tr", kRts, "rts off|", "", kInTest},
    {"DtrAfterReadout", "R", kDtr, "dtr on|", "", kNormal + " open"},
    {"DtrClearedWhileTesting", "Td", kDtr, "dtr off|", "", kInTest},
    {"TickWithoutBreak", "TB", kTick, "breakseen|", kTickRed, kBreakOn},
    {"TickWithNoPortOnlyRearms", "TFy", kTick, "", kStopRefresh + kArmRefresh, kNormal + " refreshing"},
    {"TickOnAPortThatCannotReport", "Tu", kTick, "breakseen|", kTickRed,
     kInTest + " tip='This port cannot report breaks on RxD'"},
    {"TickReportingAgainTakesTheTipAway", "TUy", kTick, "breakseen|", kTickGreen,
     "test=1 break=0 txd=red rxd=green refreshing open tip=''"},
};
INSTANTIATE_TEST_SUITE_P(LineTest, StateTable, ::testing::ValuesIn(kTransitions),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace varnel
