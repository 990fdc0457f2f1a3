#include "serial/Win32SerialPort.h"

#include <gtest/gtest.h>

#include <cstring>

namespace varnel {
namespace {

// Against a record with every bit set, as a driver might report it: the rate, the character format and
// RTS/DTR are written, an open also clears every handshake, and nothing else changes.
TEST(Win32SerialPort, ComposedStatesWriteTheProtocolAndLeaveTheRestAsReported)
{
    for (const bool open : {true, false}) {
        LineSettings s{9600, 7, Parity::Even};
        s.rtsControl = open ? LineControl::Enable : LineControl::Disable;
        s.dtrControl = open ? LineControl::Disable : LineControl::Enable;
        DCB dcb, expected;
        std::memset(&dcb, 0xFF, sizeof dcb);
        expected = dcb;
        open ? ComposeOpenState(dcb, s) : ComposeApplyState(dcb, s);
        expected.BaudRate = 9600;
        expected.ByteSize = 7;
        expected.Parity = EVENPARITY;
        expected.StopBits = ONESTOPBIT;
        expected.fRtsControl = open ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
        expected.fDtrControl = open ? DTR_CONTROL_DISABLE : DTR_CONTROL_ENABLE;
        if (open)
            expected.fOutxCtsFlow = expected.fOutxDsrFlow = expected.fDsrSensitivity =
                expected.fTXContinueOnXoff = expected.fOutX = expected.fInX = expected.fNull = 0;
        EXPECT_EQ(std::memcmp(&dcb, &expected, sizeof dcb), 0) << (open ? "open" : "re-apply");
    }
}

TEST(Win32SerialPort, ReadsReturnAtOnceAndWritesGetTwentyMilliseconds)
{
    const COMMTIMEOUTS t = ReadoutTimeouts(), expected{MAXDWORD, MAXDWORD, 20, 0, 20};
    EXPECT_EQ(std::memcmp(&t, &expected, sizeof t), 0);
}

// Wine's pseudo-terminal took the rate and kept 8N1; nothing else passes a failed write.
TEST(Win32SerialPort, OnlyWinesEightBitTerminalPassesAFailedWrite)
{
    DCB wanted{}, reported{};
    wanted.BaudRate = reported.BaudRate = 9600;
    wanted.ByteSize = 7;
    wanted.Parity = EVENPARITY;
    reported.ByteSize = 8;
    reported.Parity = NOPARITY;
    EXPECT_TRUE(PseudoTerminalRefusal(true, wanted, reported));
    EXPECT_FALSE(PseudoTerminalRefusal(false, wanted, reported));
    EXPECT_FALSE(PseudoTerminalRefusal(true, reported, reported)) << "8N1 asked";
    EXPECT_FALSE(PseudoTerminalRefusal(true, wanted, wanted)) << "7E1 reported";
    reported.BaudRate = 300;
    EXPECT_FALSE(PseudoTerminalRefusal(true, wanted, reported));
}

TEST(Win32SerialPort, APortWithoutDeviceDoesNotOpen)
{
    Win32SerialPort port;
    EXPECT_FALSE(port.Open("\\\\.\\COM250", LineSettings{}, false));
    EXPECT_FALSE(port.HoldsDevice() || port.LastError().empty());
    EXPECT_EQ(port.TakeBreakSeen(), BreakSeen::No);
}

} // namespace
} // namespace varnel
