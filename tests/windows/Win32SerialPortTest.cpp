#include "serial/Win32SerialPort.h"

#include <gtest/gtest.h>

#include <cstring>

namespace varnel {
namespace {

LineSettings Protocol(LineControl rts, LineControl dtr)
{
    LineSettings s;
    s.baudRate = 9600;
    s.byteSize = 7;
    s.parity = Parity::Even;
    s.rtsControl = rts;
    s.dtrControl = dtr;
    return s;
}

struct StateCase {
    bool open; // OpenPort's record, else the re-apply's
    LineControl rts, dtr;
    DWORD rtsBits, dtrBits;
};

class ComposeState : public ::testing::TestWithParam<StateCase> {};

// Against a record with every bit set, as a driver might report it: the rate, the
// character format and RTS/DTR are written; an open also clears every handshake.
TEST_P(ComposeState, WritesTheProtocolAndLeavesTheRestAsReported)
{
    const StateCase& c = GetParam();
    DCB reported;
    std::memset(&reported, 0xFF, sizeof reported);
    DCB dcb = reported;
    c.open ? ComposeOpenState(dcb, Protocol(c.rts, c.dtr)) : ComposeApplyState(dcb, Protocol(c.rts, c.dtr));
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.Parity, EVENPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fRtsControl, c.rtsBits);
    EXPECT_EQ(dcb.fDtrControl, c.dtrBits);
    const DWORD handshake = c.open ? 0 : 1;
    for (DWORD flag : std::initializer_list<DWORD>{dcb.fOutxCtsFlow, dcb.fOutxDsrFlow, dcb.fDsrSensitivity,
                                                   dcb.fTXContinueOnXoff, dcb.fOutX, dcb.fInX, dcb.fNull})
        EXPECT_EQ(flag, handshake);
    // Put back what was meant to change: then nothing else did.
    DCB rest = dcb;
    rest.BaudRate = reported.BaudRate;
    rest.ByteSize = rest.Parity = rest.StopBits = 0xFF;
    rest.fRtsControl = rest.fDtrControl = 3;
    rest.fOutxCtsFlow = rest.fOutxDsrFlow = rest.fDsrSensitivity = rest.fTXContinueOnXoff = 1;
    rest.fOutX = rest.fInX = rest.fNull = 1;
    EXPECT_EQ(std::memcmp(&rest, &reported, sizeof rest), 0);
}

INSTANTIATE_TEST_SUITE_P(Records, ComposeState,
                         ::testing::Values(StateCase{true, LineControl::Enable, LineControl::Enable,
                                                     RTS_CONTROL_ENABLE, DTR_CONTROL_ENABLE},
                                           StateCase{true, LineControl::Disable, LineControl::Disable,
                                                     RTS_CONTROL_DISABLE, DTR_CONTROL_DISABLE},
                                           StateCase{false, LineControl::Enable, LineControl::Disable,
                                                     RTS_CONTROL_ENABLE, DTR_CONTROL_DISABLE}));

TEST(Win32SerialPort, ReadsReturnAtOnceAndWritesGetTwentyMilliseconds)
{
    const COMMTIMEOUTS t = ReadoutTimeouts();
    const COMMTIMEOUTS expected{MAXDWORD, MAXDWORD, 20, 0, 20};
    EXPECT_EQ(std::memcmp(&t, &expected, sizeof t), 0);
}

// Wine's pseudo-terminal took the rate and kept 8N1; nothing else passes a failed write.
TEST(Win32SerialPort, OnlyWinesEightBitTerminalPassesAFailedWrite)
{
    const struct {
        bool underWine;
        BYTE askedBits, askedParity;
        DWORD reportedRate;
        BYTE reportedBits, reportedParity;
        bool accepted;
    } cases[] = {{true, 7, EVENPARITY, 9600, 8, NOPARITY, true},
                 {false, 7, EVENPARITY, 9600, 8, NOPARITY, false},
                 {true, 7, EVENPARITY, 300, 8, NOPARITY, false},
                 {true, 8, NOPARITY, 9600, 8, NOPARITY, false},
                 {true, 7, EVENPARITY, 9600, 7, EVENPARITY, false}};
    for (const auto& c : cases) {
        DCB wanted{};
        wanted.BaudRate = 9600;
        wanted.ByteSize = c.askedBits;
        wanted.Parity = c.askedParity;
        DCB reported = wanted;
        reported.BaudRate = c.reportedRate;
        reported.ByteSize = c.reportedBits;
        reported.Parity = c.reportedParity;
        EXPECT_EQ(PseudoTerminalRefusal(c.underWine, wanted, reported), c.accepted)
            << c.underWine << ' ' << int(c.askedBits) << ' ' << c.reportedRate << ' ' << int(c.reportedBits);
    }
}

TEST(Win32SerialPort, APortWithoutDeviceDoesNotOpen)
{
    Win32SerialPort port;
    EXPECT_FALSE(port.Open("\\\\.\\COM250", Protocol(LineControl::Enable, LineControl::Enable), false));
    EXPECT_FALSE(port.HoldsDevice());
    EXPECT_FALSE(port.LastError().empty());
    EXPECT_EQ(port.TakeBreakSeen(), BreakSeen::No);
}

} // namespace
} // namespace varnel
