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

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace varnel {
namespace {

using test::FakeClock;
using test::FakePort;
using test::RecordingView;
using Strings = std::vector<std::string>;

constexpr int kStartupHeight = 317;

// The order of the indicator reset is part of the behaviour: hide 1044, show
// 1043, hide 1046, show 1045.
const Strings kReset{"hide 1044", "show 1043", "hide 1046", "show 1045"};
const std::string kStopReceive = "stop 32771";
const std::string kStopStatus = "stop 32772";
const std::string kArmStatus = "start 32772 500";
const std::string kOpenErrorBox = "message Open port COM error";

Strings Seq(std::initializer_list<Strings> parts)
{
    Strings out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct LineTestFixture : ::testing::Test {
    LineTestFixture()
    {
        lineTest.SetLayoutHeight(kStartupHeight);
    }

    // Port calls with the device and line settings of an open left out: those
    // belong to the serial layer; what matters here is the open mode.
    Strings PortCalls() const
    {
        Strings out;
        for (const auto& c : port.calls) {
            if (c.rfind("open ", 0) != 0)
                out.push_back(c);
            else
                out.push_back(c.size() > 9 && c.compare(c.size() - 9, 9, " linetest") == 0 ? "open linetest"
                                                                                             : "open");
        }
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

enum class From { Normal, Reading, Testing, BreakHeld, FailedRetest };
enum class Event { Test, Break, Read, Rts, Dtr, Tick };

struct Transition {
    const char* name;
    From from;
    Event event;
    bool failOpen;
    BreakSeen seen;
    Strings portCalls;
    Strings viewCalls; // timers, indicators and message boxes, in order
    int testMode;
    int breakOn;
    bool txdGreen;
    bool rxdGreen;
    bool statusTimer;
    bool portOpen;
};

void PrintTo(const Transition& t, std::ostream* os) { *os << t.name; }

struct StateTable : LineTestFixture, ::testing::WithParamInterface<Transition> {
    void Reach(From from)
    {
        switch (from) {
        case From::Normal:
            break;
        case From::Reading: // a readout being polled on an open port
            ASSERT_EQ(serial.OpenPort(), 0);
            view.StartTimer(TIMER_RECEIVE, std::chrono::milliseconds(50));
            break;
        case From::Testing:
            lineTest.OnTest();
            break;
        case From::BreakHeld:
            lineTest.OnTest();
            lineTest.OnBreak();
            ASSERT_EQ(serial.m_breakOn, 1);
            break;
        case From::FailedRetest: // Test worked once, then the port vanished
            lineTest.OnTest();
            port.failOpen = true;
            lineTest.OnTest();
            port.failOpen = false;
            break;
        }
    }

    void Fire(Event e)
    {
        switch (e) {
        case Event::Test: lineTest.OnTest(); break;
        case Event::Break: lineTest.OnBreak(); break;
        case Event::Read: lineTest.LeaveLineTest(); break;
        case Event::Rts: lineTest.OnRts(); break;
        case Event::Dtr: lineTest.OnDtr(); break;
        case Event::Tick: lineTest.RefreshLineStatus(); break;
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

    Fire(t.event);

    EXPECT_EQ(PortCalls(), t.portCalls);
    EXPECT_EQ(view.journal, t.viewCalls);
    for (const auto& m : view.messages)
        EXPECT_EQ(m.icon, MessageIcon::Stop) << m.text;
    // Every Test, also one inside Break, grows the window, whatever the open does.
    const bool tested = std::find(t.viewCalls.begin(), t.viewCalls.end(), kStopReceive) != t.viewCalls.end();
    EXPECT_EQ(view.windowBottoms, tested ? std::vector<int>{kStartupHeight + 50} : std::vector<int>{});
    EXPECT_EQ(serial.m_testMode, t.testMode);
    EXPECT_EQ(serial.m_breakOn, t.breakOn);
    EXPECT_EQ(serial.IsOpen(), t.portOpen);
    EXPECT_EQ(view.TimerRunning(TIMER_LINE_STATUS), t.statusTimer);
    if (t.event == Event::Test || t.event == Event::Break) {
        EXPECT_FALSE(view.TimerRunning(TIMER_RECEIVE));
    }
    if (!view.visible.empty()) {
        ExpectIndicators(t.txdGreen, t.rxdGreen);
    }
}

const BreakSeen kNo = BreakSeen::No;
const BreakSeen kYes = BreakSeen::Yes;

INSTANTIATE_TEST_SUITE_P(
    LineTest, StateTable,
    ::testing::Values(
        // any | Test, port opens -> testing
        Transition{"TestFromNormal", From::Normal, Event::Test, false, kNo,
                   {"open linetest", "break off"}, Seq({{kStopReceive}, kReset, {kArmStatus}}),
                   1, 0, false, false, true, true},
        Transition{"TestDuringReadoutStopsPollingAndReopens", From::Reading, Event::Test, false, kNo,
                   {"close", "open linetest", "break off"}, Seq({{kStopReceive}, kReset, {kArmStatus}}),
                   1, 0, false, false, true, true},
        Transition{"TestAgainReopens", From::Testing, Event::Test, false, kNo,
                   {"close", "open linetest", "break off"}, Seq({{kStopReceive}, kReset, {kArmStatus}}),
                   1, 0, false, false, true, true},
        Transition{"TestWhileBreakHeldClearsIt", From::BreakHeld, Event::Test, false, kNo,
                   {"close", "open linetest", "break off"}, Seq({{kStopReceive}, kReset, {kArmStatus}}),
                   1, 0, false, false, true, true},
        // any | Test, open fails -> normal
        Transition{"TestOpenFailsFromNormal", From::Normal, Event::Test, true, kNo,
                   {"open linetest"}, Seq({{kStopReceive}, kReset, {kOpenErrorBox}}),
                   0, 0, false, false, false, false},
        Transition{"TestOpenFailsWhileBreakHeldKeepsStatusTimer", From::BreakHeld, Event::Test, true, kNo,
                   {"close", "open linetest"}, Seq({{kStopReceive}, kReset, {kOpenErrorBox}}),
                   0, 0, false, false, true, false},
        // normal | Break -> break held, or normal with one box
        Transition{"BreakFromNormalEntersModeAndSetsBreak", From::Normal, Event::Break, false, kNo,
                   {"open linetest", "break off", "break on"},
                   Seq({{kStopReceive}, kReset, {kArmStatus, "hide 1043", "show 1044"}}),
                   1, 1, true, false, true, true},
        Transition{"BreakFromNormalOpenFailsOneBox", From::Normal, Event::Break, true, kNo,
                   {"open linetest"}, Seq({{kStopReceive}, kReset, {kOpenErrorBox}}),
                   0, 0, false, false, false, false},
        // testing <-> break held
        Transition{"BreakWhileTestingSetsBreak", From::Testing, Event::Break, false, kNo,
                   {"break on"}, {"hide 1043", "show 1044"}, 1, 1, true, false, true, true},
        Transition{"BreakWhileHeldReleasesIt", From::BreakHeld, Event::Break, false, kNo,
                   {"break off"}, {"hide 1044", "show 1043"}, 1, 0, false, false, true, true},
        // any | Read -> normal, the port left as it is
        Transition{"ReadWhileBreakHeld", From::BreakHeld, Event::Read, false, kNo,
                   {}, Seq({{kStopStatus}, kReset}), 0, 0, false, false, false, true},
        Transition{"ReadWhileTesting", From::Testing, Event::Read, false, kNo,
                   {}, Seq({{kStopStatus}, kReset}), 0, 0, false, false, false, true},
        // any | RTS or DTR -> unchanged (both boxes checked)
        Transition{"RtsWhileBreakHeld", From::BreakHeld, Event::Rts, false, kNo,
                   {"rts on"}, {}, 1, 1, true, false, true, true},
        Transition{"DtrAfterReadout", From::Reading, Event::Dtr, false, kNo,
                   {"dtr on"}, {}, 0, 0, false, false, false, true},
        Transition{"RtsWithNoPortDoesNothing", From::Normal, Event::Rts, false, kNo,
                   {}, {}, 0, 0, false, false, false, false},
        // any | tick -> unchanged but RxD
        Transition{"TickAfterBreakArrived", From::Testing, Event::Tick, false, kYes,
                   {"breakseen"}, {kStopStatus, "hide 1045", "show 1046", kArmStatus}, 1, 0, false, true, true, true},
        Transition{"TickWithoutBreak", From::BreakHeld, Event::Tick, false, kNo,
                   {"breakseen"}, {kStopStatus, "hide 1046", "show 1045", kArmStatus}, 1, 1, true, false, true, true},
        Transition{"TickWithNoPortOnlyRearms", From::FailedRetest, Event::Tick, false, kYes,
                   {}, {kStopStatus, kArmStatus}, 0, 0, false, false, true, false}),
    [](const ::testing::TestParamInfo<Transition>& info) { return std::string(info.param.name); });

TEST_F(LineTestFixture, BreakWithNoPortInTestModeSaysSoAndChangesNothing)
{
    lineTest.OnTest();
    serial.ClosePort(); // the port was let go under the mode
    Forget();

    lineTest.OnBreak();

    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].text, "Port COM is not opened");
    EXPECT_EQ(view.messages[0].icon, MessageIcon::Stop);
    EXPECT_TRUE(port.calls.empty());
    EXPECT_EQ(view.journal, Strings{"message Port COM is not opened"});
    EXPECT_EQ(serial.m_testMode, 1);
    EXPECT_EQ(serial.m_breakOn, 0);
}

struct ModemLineCase {
    bool rtsChecked;
    bool dtrChecked;
    Event click;
    const char* expected;
};

struct ModemLines : LineTestFixture, ::testing::WithParamInterface<ModemLineCase> {};

TEST_P(ModemLines, EachLineFollowsItsOwnBox)
{
    const auto& c = GetParam();
    lineTest.OnTest();
    Forget();
    view.checks[IDC_RTS] = c.rtsChecked;
    view.checks[IDC_DTR] = c.dtrChecked;

    if (c.click == Event::Rts)
        lineTest.OnRts();
    else
        lineTest.OnDtr();

    EXPECT_EQ(port.calls, Strings{c.expected});
    EXPECT_TRUE(view.journal.empty());
}

INSTANTIATE_TEST_SUITE_P(LineTest, ModemLines,
                         ::testing::Values(ModemLineCase{true, false, Event::Dtr, "dtr off"},
                                           ModemLineCase{true, false, Event::Rts, "rts on"},
                                           ModemLineCase{false, true, Event::Rts, "rts off"},
                                           ModemLineCase{false, true, Event::Dtr, "dtr on"}));

TEST_F(LineTestFixture, WindowGrowsToTheSameBottomOnEveryTestAndNeverShrinks)
{
    lineTest.OnTest();
    port.failOpen = true;
    lineTest.OnTest();
    port.failOpen = false;
    lineTest.LeaveLineTest();
    lineTest.OnTest();

    EXPECT_EQ(view.windowBottoms, (std::vector<int>{kStartupHeight + 50, kStartupHeight + 50, kStartupHeight + 50}));
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
    ExpectIndicators(false, false);

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
    constexpr std::chrono::milliseconds kBreakHold{300};
    constexpr std::chrono::milliseconds kSettle{150};

    std::unique_ptr<QCoreApplication> app;
    int argc = 1;
    char name[] = "LineTestTest";
    char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr)
        app = std::make_unique<QCoreApplication>(argc, argv);

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
