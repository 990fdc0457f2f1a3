#include "serial/Win32SerialPort.h"

#include <gtest/gtest.h>

#include <cstring>

namespace varnel {
namespace {

// Against a record with every bit set, as a driver might report it: the rate, the character format and
// RTS/DTR are written, every handshake cleared, and nothing else changes.
TEST(Win32SerialPort, TheOpensStateWritesTheProtocolAndLeavesTheRestAsReported)
{
    LineSettings s{9600, 7, Parity::Even};
    s.dtrControl = LineControl::Disable;
    DCB dcb, expected;
    std::memset(&dcb, 0xFF, sizeof dcb);
    expected = dcb;
    ComposeOpenState(dcb, s);
    expected.BaudRate = 9600;
    expected.ByteSize = 7;
    expected.Parity = EVENPARITY;
    expected.StopBits = ONESTOPBIT;
    expected.fRtsControl = RTS_CONTROL_ENABLE;
    expected.fDtrControl = DTR_CONTROL_DISABLE;
    expected.fOutxCtsFlow = expected.fOutxDsrFlow = expected.fDsrSensitivity = expected.fTXContinueOnXoff =
        expected.fOutX = expected.fInX = expected.fNull = 0;
    EXPECT_EQ(std::memcmp(&dcb, &expected, sizeof dcb), 0);
}

// Wine's pseudo-terminal took the rate and kept 8N1; nothing else passes a failed write.
TEST(Win32SerialPort, OnlyWinesEightBitTerminalPassesAFailedWrite)
{
    DCB wanted{}, reported{};
    wanted.BaudRate = reported.BaudRate = 9600;
    wanted.ByteSize = 7;
    wanted.Parity = EVENPARITY;
    reported.ByteSize = 8; // and no parity
    EXPECT_TRUE(PseudoTerminalRefusal(true, wanted, reported));
    EXPECT_FALSE(PseudoTerminalRefusal(false, wanted, reported));
    reported.BaudRate = 300;
    EXPECT_FALSE(PseudoTerminalRefusal(true, wanted, reported));
}

TEST(Win32SerialPort, APortWithoutDeviceDoesNotOpen)
{
    Win32SerialPort port;
    EXPECT_FALSE(port.Open("\\\\.\\COM250", LineSettings{}, false));
    EXPECT_FALSE(port.HoldsDevice() || port.LastError().empty());
}

} // namespace
} // namespace varnel
