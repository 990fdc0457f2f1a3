#include "serial/Win32SerialPort.h"

#include <gtest/gtest.h>

namespace varnel {
namespace {

// What a driver might report before we write: every field set to something else.
DCB Reported()
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 4800;
    dcb.ByteSize = 8;
    dcb.Parity = ODDPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fBinary = 1;
    dcb.fParity = 1;
    dcb.fAbortOnError = 1;
    dcb.fErrorChar = 1;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fDsrSensitivity = dcb.fTXContinueOnXoff = 1;
    dcb.fOutX = dcb.fInX = dcb.fNull = 1;
    dcb.fRtsControl = RTS_CONTROL_TOGGLE;
    dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
    dcb.XonLim = 7;
    dcb.XoffLim = 9;
    dcb.XonChar = 0x11;
    dcb.EvtChar = 0x7E;
    return dcb;
}

LineSettings Protocol(std::int32_t rate, LineControl rts, LineControl dtr)
{
    LineSettings s;
    s.baudRate = rate;
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
    DWORD flowFlags; // the seven handshake flags, each 0 or 1
};

class ComposeState : public ::testing::TestWithParam<StateCase> {};

TEST_P(ComposeState, WritesTheProtocolAndKeepsTheRestAsReported)
{
    const StateCase& c = GetParam();
    DCB dcb = Reported();
    const LineSettings s = Protocol(9600, c.rts, c.dtr);
    c.open ? ComposeOpenState(dcb, s) : ComposeApplyState(dcb, s);

    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.Parity, EVENPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fRtsControl, c.rtsBits);
    EXPECT_EQ(dcb.fDtrControl, c.dtrBits);
    for (DWORD flag : {dcb.fOutxCtsFlow, dcb.fOutxDsrFlow, dcb.fDsrSensitivity, dcb.fTXContinueOnXoff,
                       dcb.fOutX, dcb.fInX, dcb.fNull})
        EXPECT_EQ(flag, c.flowFlags);
    // Never touched by either.
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fParity, 1u);
    EXPECT_EQ(dcb.fAbortOnError, 1u);
    EXPECT_EQ(dcb.fErrorChar, 1u);
    EXPECT_EQ(dcb.XonLim, 7);
    EXPECT_EQ(dcb.XoffLim, 9);
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.EvtChar, 0x7E);
}

INSTANTIATE_TEST_SUITE_P(Records, ComposeState,
                         ::testing::Values(StateCase{true, LineControl::Enable, LineControl::Enable,
                                                     RTS_CONTROL_ENABLE, DTR_CONTROL_ENABLE, 0},
                                           StateCase{true, LineControl::Disable, LineControl::Disable,
                                                     RTS_CONTROL_DISABLE, DTR_CONTROL_DISABLE, 0},
                                           StateCase{false, LineControl::Enable, LineControl::Disable,
                                                     RTS_CONTROL_ENABLE, DTR_CONTROL_DISABLE, 1},
                                           StateCase{false, LineControl::Disable, LineControl::Enable,
                                                     RTS_CONTROL_DISABLE, DTR_CONTROL_ENABLE, 1}));

TEST(Win32SerialPort, ReadsReturnAtOnceAndWritesGetTwentyMilliseconds)
{
    const COMMTIMEOUTS t = ReadoutTimeouts();
    EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, MAXDWORD);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 20u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 20u);
}

struct RefusalCase {
    const char* name;
    bool underWine;
    BYTE askedBits, askedParity;
    DWORD reportedRate;
    BYTE reportedBits, reportedParity;
    bool accepted;
};

class PseudoTerminal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(PseudoTerminal, OnlyWinesEightBitTerminalPassesAFailedWrite)
{
    const RefusalCase& c = GetParam();
    DCB wanted = Reported();
    wanted.BaudRate = 9600;
    wanted.ByteSize = c.askedBits;
    wanted.Parity = c.askedParity;
    DCB reported = wanted;
    reported.BaudRate = c.reportedRate;
    reported.ByteSize = c.reportedBits;
    reported.Parity = c.reportedParity;
    EXPECT_EQ(PseudoTerminalRefusal(c.underWine, wanted, reported), c.accepted) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PseudoTerminal,
    ::testing::Values(RefusalCase{"wine pty keeps 8N1", true, 7, EVENPARITY, 9600, 8, NOPARITY, true},
                      RefusalCase{"real Windows", false, 7, EVENPARITY, 9600, 8, NOPARITY, false},
                      RefusalCase{"rate not taken", true, 7, EVENPARITY, 300, 8, NOPARITY, false},
                      RefusalCase{"8N1 asked and refused", true, 8, NOPARITY, 9600, 8, NOPARITY, false},
                      RefusalCase{"7E1 held yet refused", true, 7, EVENPARITY, 9600, 7, EVENPARITY, false}));

TEST(Win32SerialPort, APortWithoutDeviceDoesNotOpen)
{
    Win32SerialPort port;
    EXPECT_FALSE(port.Open("\\\\.\\COM250", Protocol(300, LineControl::Enable, LineControl::Enable), false));
    EXPECT_FALSE(port.HoldsDevice());
    EXPECT_FALSE(port.LastError().empty());
    EXPECT_EQ(port.Read(nullptr, 0), 0u);
    EXPECT_EQ(port.TakeBreakSeen(), BreakSeen::No);
}

} // namespace
} // namespace varnel
