#include "linetest/LineTest.h"

#include "FakeClock.h"
#include "FakePort.h"
#include "RecordingView.h"
#include "core/Clock.h"
#include "core/ControlIds.h"
#include "serial/PortNames.h"
#include "serial/QtSerialPortBackend.h"
#include "serial/SerialLine.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

namespace varnel {
namespace {

using test::FakeClock;
using test::FakePort;
using test::RecordingView;
using Strings = std::vector<std::string>;

constexpr int kStartupHeight = 317;

// The order of the indicator reset is part of the behaviour.
const Strings kReset{"hide 1044", "show 1043", "hide 1046", "show 1045"};
const std::string kStopReceive = "stop 32771", kStopStatus = "stop 32772", kArmStatus = "start 32772 500";

Strings Seq(std::initializer_list<Strings> parts)
{
    Strings out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// What the window is told on Test: polling stopped, discs reset, then the refresh armed or the box.
const Strings kEntered = Seq({{kStopReceive}, kReset, {kArmStatus}});
const Strings kEnterFailed = Seq({{kStopReceive}, kReset, {"message Open port COM error"}});

struct LineTestFixture : ::testing::Test {
    LineTestFixture() { lineTest.SetLayoutHeight(kStartupHeight); }

    // Device and line settings of an open belong to the serial layer; only the open mode matters here.
    Strings PortCalls() const
    {
        Strings out = port.calls;
        for (auto& c : out)
            if (c.rfind("open ", 0) == 0)
                c = c.size() > 9 && c.compare(c.size() - 9, 9, " linetest") == 0 ? "open linetest" : "open";
        return out;
    }

    void Forget()
    {
        port.calls.clear();
        view.journal.clear();
        view.messages.clear();
        view.windowBottoms.clear();
    }

    // Exactly one disc of each pair is visible, and it is the expected one.
    void ExpectIndicators(bool txdGreen, bool rxdGreen) const
    {
        EXPECT_EQ(view.visible.at(IDC_TXD_RED), !txdGreen);
        EXPECT_EQ(view.visible.at(IDC_TXD_GREEN), txdGreen);
        EXPECT_EQ(view.visible.at(IDC_RXD_RED), !rxdGreen);
        EXPECT_EQ(view.visible.at(IDC_RXD_GREEN), rxdGreen);
    }

    FakeClock clock;
    FakePort port{&clock};
    RecordingView view;
    PortNames names;
    SerialLine serial{port, clock, view, names};
    LineTest lineTest{serial, view};
};

enum class From { Normal, Reading, Testing, BreakHeld, PortLost, FailedRetest };
// An event is the call the window forwards for it.
using Event = void (LineTest::*)();
constexpr Event kTest = &LineTest::OnTest, kBreak = &LineTest::OnBreak, kRead = &LineTest::LeaveLineTest;
constexpr Event kRts = &LineTest::OnRts, kDtr = &LineTest::OnDtr, kTick = &LineTest::RefreshLineStatus;

struct After {
    int testMode, breakOn;
    bool txdGreen, rxdGreen, statusTimer, portOpen;
};
const After kInTest{1, 0, false, false, true, true};
const After kBreakOn{1, 1, true, false, true, true};
const After kNormalClosed{0, 0, false, false, false, false};
const After kNormalOpen{0, 0, false, false, false, true};
const After kNormalRefreshing{0, 0, false, false, true, false};

struct Transition {
    const char* name;
    From from;
    Event event;
    Strings portCalls;
    Strings viewCalls; // timers, indicators and message boxes, in order
    After after;
    bool failOpen = false;
    BreakSeen seen = BreakSeen::No;
};

void PrintTo(const Transition& t, std::ostream* os) { *os << t.name; }

struct StateTable : LineTestFixture, ::testing::WithParamInterface<Transition> {
    void Reach(From from)
    {
        if (from == From::Reading) { // a readout being polled on an open port
            ASSERT_EQ(serial.OpenPort(), 0);
            view.StartTimer(TIMER_RECEIVE, std::chrono::milliseconds(50));
            return;
        }
        if (from != From::Normal)
            lineTest.OnTest();
        if (from == From::BreakHeld)
            lineTest.OnBreak();
        if (from == From::PortLost) // the port was let go under the mode
            serial.ClosePort();
        if (from == From::FailedRetest) { // Test worked once, then the port vanished
            port.failOpen = true;
            lineTest.OnTest();
            port.failOpen = false;
        }
    }
};

TEST_P(StateTable, Transition)
{
    const Transition& t = GetParam();
    Reach(t.from);
    Forget();
    port.failOpen = t.failOpen;
    port.breakSeen = t.seen;

    (lineTest.*t.event)();

    EXPECT_EQ(PortCalls(), t.portCalls);
    EXPECT_EQ(view.journal, t.viewCalls);
    for (const auto& m : view.messages)
        EXPECT_EQ(m.icon, MessageIcon::Stop) << m.text;
    // Every Test (a second one, one inside Break, a failed one) moves the bottom to the same place; nothing else does.
    const bool tested = !t.viewCalls.empty() && t.viewCalls[0] == kStopReceive;
    EXPECT_EQ(view.windowBottoms, tested ? std::vector<int>{kStartupHeight + 50} : std::vector<int>{});
    EXPECT_EQ(serial.m_testMode, t.after.testMode);
    EXPECT_EQ(serial.m_breakOn, t.after.breakOn);
    EXPECT_EQ(serial.IsOpen(), t.after.portOpen);
    EXPECT_EQ(view.TimerRunning(TIMER_LINE_STATUS), t.after.statusTimer);
    if (t.event == kTest || t.event == kBreak) {
        EXPECT_FALSE(view.TimerRunning(TIMER_RECEIVE));
    }
    if (!view.visible.empty())
        ExpectIndicators(t.after.txdGreen, t.after.rxdGreen);
}

const Strings kReopen{"close", "open linetest", "break off"};

INSTANTIATE_TEST_SUITE_P(
    LineTest, StateTable,
    ::testing::Values(
        // any | Test
        Transition{"TestFromNormal", From::Normal, kTest, {"open linetest", "break off"}, kEntered, kInTest},
        Transition{"TestDuringReadoutStopsPollingAndReopens", From::Reading, kTest, kReopen, kEntered, kInTest},
        Transition{"TestWhileBreakHeldClearsIt", From::BreakHeld, kTest, kReopen, kEntered, kInTest},
        Transition{"TestOpenFails", From::Normal, kTest, {"open linetest"}, kEnterFailed, kNormalClosed, true},
        Transition{"TestOpenFailsWhileBreakHeldKeepsStatusTimer", From::BreakHeld, kTest, {"close", "open linetest"},
                   kEnterFailed, kNormalRefreshing, true},
        // normal | Break: into the mode with break held, or one box only
        Transition{"BreakFromNormalEntersModeAndSetsBreak", From::Normal, kBreak,
                   {"open linetest", "break off", "break on"}, Seq({kEntered, {"hide 1043", "show 1044"}}), kBreakOn},
        Transition{"BreakOpenFailsOneBox", From::Normal, kBreak, {"open linetest"}, kEnterFailed, kNormalClosed, true},
        // testing <-> break held
        Transition{"BreakWhileTestingSetsBreak", From::Testing, kBreak, {"break on"}, {"hide 1043", "show 1044"},
                   kBreakOn},
        Transition{"BreakWhileHeldReleasesIt", From::BreakHeld, kBreak, {"break off"}, {"hide 1044", "show 1043"},
                   kInTest},
        Transition{"BreakWithNoPortSaysSoAndChangesNothing", From::PortLost, kBreak, {},
                   {"message Port COM is not opened"}, {1, 0, false, false, true, false}},
        // any | Read -> normal, the port left as it is
        Transition{"ReadWhileBreakHeld", From::BreakHeld, kRead, {}, Seq({{kStopStatus}, kReset}), kNormalOpen},
        // any | RTS or DTR -> unchanged (both boxes checked)
        Transition{"RtsWhileBreakHeld", From::BreakHeld, kRts, {"rts on"}, {}, kBreakOn},
        Transition{"DtrAfterReadout", From::Reading, kDtr, {"dtr on"}, {}, kNormalOpen},
        Transition{"RtsWithNoPortDoesNothing", From::Normal, kRts, {}, {}, kNormalClosed},
        // any | tick -> unchanged but RxD
        Transition{"TickAfterBreakArrived", From::Testing, kTick, {"breakseen"},
                   {kStopStatus, "hide 1045", "show 1046", kArmStatus}, {1, 0, false, true, true, true}, false,
                   BreakSeen::Yes},
        Transition{"TickWithoutBreak", From::BreakHeld, kTick, {"breakseen"},
                   {kStopStatus, "hide 1046", "show 1045", kArmStatus}, kBreakOn},
        Transition{"TickWithNoPortOnlyRearms", From::FailedRetest, kTick, {}, {kStopStatus, kArmStatus},
                   kNormalRefreshing, false, BreakSeen::Yes}),
    [](const ::testing::TestParamInfo<Transition>& info) { return std::string(info.param.name); });

// Both boxes checked is in the state table; here each box differs from the other.
TEST_F(LineTestFixture, RtsAndDtrEachFollowTheirOwnBox)
{
    lineTest.OnTest();
    Forget();
    view.checks[IDC_RTS] = false;
    lineTest.OnRts();
    view.checks[IDC_RTS] = true;
    view.checks[IDC_DTR] = false;
    lineTest.OnDtr();

    EXPECT_EQ(port.calls, (Strings{"rts off", "dtr off"}));
    EXPECT_TRUE(view.journal.empty());
}

TEST_F(LineTestFixture, PortThatCannotReportBreaksSaysSoOnceInTheRxdToolTip)
{
    lineTest.OnTest();
    port.breakSeen = BreakSeen::Unsupported;
    lineTest.RefreshLineStatus();
    ExpectIndicators(false, false);
    EXPECT_EQ(view.toolTips[IDC_RXD_RED], "This port cannot report breaks on RxD");

    view.toolTips.clear();
    lineTest.RefreshLineStatus();
    lineTest.OnTest();
    lineTest.RefreshLineStatus();
    EXPECT_TRUE(view.toolTips.empty()) << "the tool tip was set again";

    // A port that reports again takes the explanation away.
    port.breakSeen = BreakSeen::Yes;
    lineTest.RefreshLineStatus();
    ExpectIndicators(false, true);
    EXPECT_EQ(view.toolTips[IDC_RXD_RED], "");
}

// Needs a loop-back plug (TxD wired to RxD): a break held on TxD must come back
// as a break on RxD at the next refresh, and only at that one.
TEST(LineTestOnHardware, BreakOnTxdTurnsRxdGreenOnceThroughLoopBack)
{
    const char* device = std::getenv("VARNEL_TEST_PORT");
    if (device == nullptr || *device == '\0')
        GTEST_SKIP() << "VARNEL_TEST_PORT does not name a serial device with a loop-back plug";

    // A generous margin over a character time at 300 bit/s (about 37 ms).
    constexpr std::chrono::milliseconds kBreakHold{300}, kSettle{150};

    int argc = 1;
    char name[] = "LineTestTest";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    SystemClock clock;
    QtSerialPortBackend port;
    RecordingView view;
    PortNames names;
    SerialLine serial{port, clock, view, names};
    serial.SetDeviceOverride(device);
    LineTest lineTest{serial, view};

    lineTest.OnTest();
    ASSERT_TRUE(view.messages.empty()) << device << ": " << port.LastError();
    lineTest.RefreshLineStatus(); // forget whatever the line did before
    if (view.toolTips.count(IDC_RXD_RED) != 0)
        GTEST_SKIP() << device << " cannot report breaks on its receive line";

    lineTest.OnBreak();
    clock.Sleep(kBreakHold);
    lineTest.OnBreak();
    clock.Sleep(kSettle);
    lineTest.RefreshLineStatus();
    EXPECT_TRUE(view.visible[IDC_RXD_GREEN]) << "no break came back on RxD";

    clock.Sleep(kSettle);
    lineTest.RefreshLineStatus();
    EXPECT_FALSE(view.visible[IDC_RXD_GREEN]) << "RxD stayed green without a new break";
    lineTest.LeaveLineTest();
    serial.ClosePort();
}

} // namespace
} // namespace varnel
