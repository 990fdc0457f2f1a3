// The Telnet session, and the network port against a scripted server for what ser2net cannot show.
#include "serial/NetworkPort.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

namespace varnel {
namespace {

using namespace std::string_literals;

std::string Hex(const std::string& bytes)
{
    return QByteArray::fromStdString(bytes).toHex(' ').toStdString();
}

// Each stream is fed whole and byte by byte: the outcome must not depend on where a read cut it.
// Outcome: data | replies | COM port agreement (0 pending, 1 agreed, 2 refused), line state reported, break.
TEST(Rfc2217Session, DataRepliesAndReportsFromTheServersStream)
{
    const std::pair<std::string, std::string> rows[] = {
        // ser2net's greeting: no go-ahead and binary both ways, echo refused, the COM port option accepted.
        {"\xff\xfb\x03\xff\xfd\x03\xff\xfb\x01\xff\xfe\x01\xff\xfd\x00\xff\xfb\x00\xff\xfd\x2c"s,
         "|ff fd 03 ff fb 03 ff fe 01 ff fb 00 ff fd 00|1 0 0"},
        {"a\xff\xff\0b\xff\xf1\xff\xf3"s + "c", "a\xff\0bc|"s + "|0 0 0"},
        {"\xff\xfd\x2c\xff\xfe\x2c", "|ff fc 2c|2 0 0"},
        // A confirmed break mask shows line state reports.
        {"\xff\xfa\x2c\x6e\x10\xff\xf0", "||0 1 0"},
        {"\xff\xfa\x2c\x6a\xff\xff\xff\xf0", "||0 1 1"},
        {"\xff\xfa\x2c\x6a\x01\xff\xf0", "||0 1 0"}, // data ready, no break
        // A subnegotiation cut short by a command is dropped.
        {"\xff\xfa\x2c\x6a\x10\xff\xfb\x01x", "x|ff fe 01|0 0 0"}};
    for (const auto& [stream, expected] : rows)
        for (const std::size_t chunk : {stream.size(), std::size_t{1}}) {
            rfc2217::Session session;
            ASSERT_EQ(Hex(session.Start()), "ff fb 2c");
            std::string data, reply;
            for (std::size_t i = 0; i < stream.size(); i += chunk)
                session.Receive(reinterpret_cast<const std::uint8_t*>(stream.data()) + i,
                                std::min(chunk, stream.size() - i), data, reply);
            EXPECT_EQ(data + '|' + Hex(reply) + '|' + std::to_string(int(session.ComPort())) + ' '
                          + std::to_string(session.ReportsLineState()) + ' '
                          + std::to_string(session.TakeBreak()),
                      expected);
        }
}

// Against a scripted RFC 2217 server on [::1] that greets each reader, checks what came and answers.
TEST(NetworkPort, CarriesLineSettingsControlsBreaksAndEveryByteAndSaysWhyItFailed)
{
    int argc = 1;
    char name[] = "test", *argv[] = {name, nullptr};
    const QCoreApplication app(argc, argv);
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHostIPv6));
    const std::string at = "://[::1]:" + std::to_string(server.serverPort());
    std::string greeting = "\xff\xfd\x2c"; // DO COM-PORT-OPTION
    QTcpSocket* client = nullptr;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        client = server.nextPendingConnection();
        client->write(greeting.data(), qint64(greeting.size()));
    });
    const auto expectSent = [&](const std::string& hex) { // what came since the last check, once as long
        for (int i = 0; i < 100 && client->bytesAvailable() < qint64(hex.size() + 1) / 3; ++i)
            client->waitForReadyRead(50);
        EXPECT_EQ(Hex(client->readAll().toStdString()), hex);
    };
    const auto send = [&](const std::string& bytes) {
        client->write(bytes.data(), qint64(bytes.size()));
        client->waitForBytesWritten(1000);
        QThread::msleep(50);
    };
    NetworkPort port;
    const LineSettings line{300, 7, Parity::Even, StopBits::One, LineControl::Enable, LineControl::Disable};
    ASSERT_TRUE(port.Open("rfc2217" + at, line, false)) << port.LastError();
    const std::string sb = "ff fa 2c ";
    expectSent("ff fb 2c " + sb + "05 01 ff f0 " + sb + "01 00 00 01 2c ff f0 " + sb + "02 07 ff f0 " + sb
               + "03 03 ff f0 " + sb + "04 01 ff f0 " + sb + "05 0b ff f0 " + sb + "05 09 ff f0 " + sb
               + "0a 10 ff f0");
    EXPECT_TRUE(port.SetRts(false) && port.SetDtr(true) && port.SetBreak(true));
    expectSent(sb + "05 0c ff f0 " + sb + "05 08 ff f0 " + sb + "05 05 ff f0");
    send("\xff\xfa\x2c\x6a\x10\xff\xf0"s + "A\xff\xff" + "B");
    EXPECT_EQ(port.TakeBreakSeen(), BreakSeen::Yes);
    EXPECT_EQ(port.TakeBreakSeen(), BreakSeen::No);
    std::uint8_t b[10] = {0xFF};
    EXPECT_EQ(port.Write(b, 1), 1u);
    expectSent("ff ff");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b), port.Read(b, sizeof b)), "A\xff"s + "B");
    send("late");
    EXPECT_TRUE(port.Purge());
    expectSent(sb + "0c 03 ff f0");
    EXPECT_EQ(port.Read(b, sizeof b), 0u);
    port.Close(); // never leaves the break held
    expectSent(sb + "05 06 ff f0");

    // The next open is a new connection: raw, with the parity done here; then the server drops it.
    greeting.clear();
    ASSERT_TRUE(port.Open("tcp" + at + "?parity=soft", line, false)) << port.LastError();
    EXPECT_EQ(port.Write(reinterpret_cast<const std::uint8_t*>("/?!\r\n"), 5), 5u);
    expectSent("af 3f 21 8d 0a");
    send("\xaf\x2f"s + "x");
    client->disconnectFromHost();
    QThread::msleep(50);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b), port.Read(b, sizeof b)), "//x");
    EXPECT_EQ(port.Read(b, sizeof b), 0u); // notices the end
    EXPECT_EQ(port.LastError(), "connection lost: The remote host closed the connection");
    EXPECT_EQ(port.ParityErrors(), 1u);
    // The next Read connects again, and its readout counts afresh.
    ASSERT_TRUE(port.Open("tcp" + at + "?parity=soft", line, false));
    EXPECT_EQ(port.ParityErrors(), 0u);

    greeting = "\xff\xfe\x2c"; // DONT
    EXPECT_FALSE(port.Open("rfc2217" + at, line, false));
    EXPECT_EQ(port.LastError(), "the server refuses RFC 2217 port control (for a raw TCP port use tcp://)");
    EXPECT_TRUE(client->waitForDisconnected(1000)); // a failed open lets its connection go
    // While an open waits for an answer that never comes, the window's timers tick.
    greeting.clear();
    bool ticked = false;
    QTimer::singleShot(100, [&] { ticked = true; });
    EXPECT_FALSE(port.Open("rfc2217" + at, line, false));
    EXPECT_TRUE(ticked);
}

} // namespace
} // namespace varnel
