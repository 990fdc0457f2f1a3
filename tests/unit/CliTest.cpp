#include "CliOptions.h"
#include "ReadRun.h"

#include "FakePort.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <csignal>
#include <sstream>

namespace varnel::cli {
namespace {

TEST(CliOptions, TakeTheDocumentedValuesAndSayExactlyWhatIsWrong)
{
    const std::string rates = "auto 300 600 1200 2400 4800 9600 19200 38400 57600";
    // port|initial|transmit|format|help version|address|listen count 8N1 listenBaud|capture, or the error.
    const struct {
        std::vector<std::string> args;
        std::string expected;
    } cases[] = {
        {{"--transmit-baud", "57600", "--format", "text"}, "|0|9|0|0 0||0 1 0 9600|"},
        {{"--initial-baud=9600", "--address=4711 A", "--capture=c", "-h"}, "|6|0|0|1 0|4711 A|0 1 0 9600|c"},
        {{"--listen", "--count", "1000000", "--framing", "7E1", "--initial-baud=300"},
         "|1|0|0|0 0||1 1000000 0 300|"},
        {{"--listen", "--framing=8N1", "--initial-baud", "115200", "--version"}, "|0|0|0|0 1||1 1 1 115200|"},
        {{"--listen=yes"}, "unknown argument: --listen=yes"},
        {{"--port"}, "--port needs a value"},
        {{"--count", "2"}, "--count belongs to --listen"},
        {{"--capture", ""}, "--capture needs a file name"},
        {{"--framing", "8N1"}, "--framing belongs to --listen"},
        {{"--port="}, "--port needs a COM name or a device path"},
        {{"--format", "xml"}, "--format takes text, csv, json or jsonl, not 'xml'"},
        {{"--address", "12-34"}, "--address takes 1 to 32 digits, letters and blanks, not '12-34'"},
        {{"--transmit-baud", "Auto"}, "--transmit-baud takes " + rates + ", not 'Auto'"},
        {{"--listen", "--framing", "8N1", "--initial-baud", "1"},
         "--initial-baud takes " + rates + " 115200, not '1'"},
        {{"--listen", "--address", "1"},
         "--address and --listen exclude each other: a push meter is not asked"},
        {{"--listen", "--framing", "8n1"}, "--framing takes 7E1 or 8N1, not '8n1'"},
        {{"--listen", "--count", "1000001"}, "--count takes a number from 0 to 1000000, not '1000001'"},
        {{"--retries", "1", "--listen"},
         "--retries belongs to a readout: a push meter sends again by itself"},
        {{"--format", "jsonl"}, "--format jsonl belongs to --listen"},
        {{"--listen", "--count", "0", "--format", "json"},
         "--count 0 reads without end: use --format jsonl, csv or text, not json"}};
    for (const auto& c : cases) {
        std::string error;
        const auto o = ParseOptions(c.args, error);
        std::ostringstream s;
        if (o)
            s << o->port << '|' << o->initialBaudIndex << '|' << o->transmitBaudIndex << '|' << int(o->format)
              << '|' << o->help << ' ' << o->version << '|' << o->address << '|' << o->listen << ' '
              << o->count << ' ' << o->eightBits << ' ' << o->listenBaud << '|' << o->capture;
        EXPECT_EQ(o ? s.str() : error, c.expected) << testing::PrintToString(c.args);
    }
    EXPECT_NE(Usage().find("  " + rates + "\n"), std::string::npos);
}

#ifdef _WIN32
const std::string kMapped = "\\\\.\\COM42", kCom96 = "\\\\.\\COM96";
#else
const std::string kMapped = "/dev/varnel-mapped", kCom96 = "/dev/ttyACM31";
#endif

// The program as main runs it: the user's map names the device; the reason and the advice follow.
TEST(CliProgram, APortThatFailsIsNamedWithItsDeviceTheReasonAndTheAdvice)
{
    test::FakeClock clock;
    test::FakePort port(&clock);
    port.failOpen = true;
    test::TempDir dir;
    std::ofstream(dir.File("Varnel.ini")) << "[Ports]\nCOM2=" << kMapped << "\n";
    std::ostringstream out, err;
    EXPECT_EQ(RunProgram({"--port", "COM2"}, port, clock, out, err, {dir.File("Varnel.ini"), "/dev/null"},
                         [] { return std::string("ask"); }),
              1);
    EXPECT_EQ(err.str() + out.str(),
              "Open port COM error: COM2 (" + kMapped + "): No such file or directory\nask\n");
    EXPECT_EQ(port.calls.at(0), "open " + kMapped + " 300 7E1 rts=1 dtr=1 flow=0000000");
}

// Ticked every 50 ms of a fake clock; chunk i comes with a readout's try i, or a push meter's tick i.
// The options' port and rate reach the open, RTS and DTR raised (an optical probe draws its power from them).
TEST(CliRun, PortsFormatsRetriesTelegramsAndStopSignalsEndAsDocumented)
{
    int argc = 1;
    char arg0[] = "CliTest", *argv[] = {arg0};
    QCoreApplication app(argc, argv); // for the view's timers
    const std::string bad = "/ABC5X\r\n\0021(2)\r\n\003x";
    const std::string badRows = "/ABC5X\n -- STX -- \n1(2)\t1\t2\n -- ETX -- \n -- BCC -- \n"
                                " -- BCC error (0x78, expected 0x06) -- \n";
    // A data line with what JSON must escape: a quote, a backslash, a control byte.
    const std::string reply = "/ABC5X\r\n\0021(2,\"\\\001)\r\n!\r\n\003s";
    const std::string p1 = "/ABC5X\r\n\r\n1(2*kWh)\r\n!2FCF\r\n"; // with its CRC-16/ARC
    const auto jsonl = [](const std::string& rows, const char* check, const char* ms) {
        return R"j({"baudRate": "9600", "protocol": "D", "flag": "ABC", "description": "X", "rows": [ )j"
               + rows + R"j( ], "blockCheck": ")j" + check + R"j(", "ended": "2025-01-01T00:00:01.)j" + ms
               + "Z\"}\n";
    };
    const std::string p1Rows =
        R"j({"data": "/ABC5X"}, {"data": "1(2*kWh)", "code": "1", "value": "2", "unit": "kWh", "number": 2}, )j"
        R"j({"data": "!2FCF", "code": "", "value": ""})j";
    const struct {
        std::vector<std::string> args, chunks;
        std::vector<int> stops; // stop signals, one after each tick
        std::string expected;   // exit status, stderr, "--", stdout
        std::string open{};     // the device and rate opened, where it tells
    } cases[] = {
        {{"--port=com96", "--initial-baud", "9600", "--transmit-baud", "2400", "--format", "json"},
         {reply},
         {},
         "0\n--\n{\"baudRate\": \"2400\", \"protocol\": \"E\", \"flag\": \"ABC\", \"description\": \"X\", "
         "\"rows\": [\n  {\"data\": \"/ABC5X\"},\n  {\"data\": \" -- STX -- \"},\n"
         "  {\"data\": \"1(2,\\\"\\\\\\u0001)\", \"code\": \"1\", \"value\": \"2,\\\"\\\\\\u0001\"},\n"
         "  {\"data\": \"!\", \"code\": \"\", \"value\": \"\"},\n  {\"data\": \" -- ETX -- \"},\n"
         "  {\"data\": \" -- BCC -- \"}\n], \"blockCheck\": \"ok\"}\n",
         kCom96 + " 9600"},
#ifndef _WIN32 // Windows numbers its ports without a bound
        {{"--port", "COM97"}, {}, {}, "1\nOpen port COM error: COM97: no device is known for COM97\n--\n"},
#endif
        {{"--retries", "1"},
         {bad, bad},
         {},
         "3\nvarnel-read: the block arrived but its check failed\nvarnel-read: 2 tries\n--\n" + badRows
             + " -- Retry 1 -- \n" + badRows
             + "Baud rate : 9600\nProtocol : E\nFLAG : ABC\nDescription : X\n"},
        {{"--listen", "--format", "jsonl", "--count", "2"},
         {p1 + "/ABC5X\r\n\r\n!1234\r\n"},
         {},
         "3\nvarnel-read: a telegram arrived but its check failed\n--\n" + jsonl(p1Rows, "ok", "050")
             + jsonl(R"j({"data": "/ABC5X"}, {"data": "!1234", "code": "", "value": ""}, )j"
                     R"j({"data": " -- CRC error -- "})j",
                     "error", "050")},
        // Following, a stop signal waits for the telegram in progress, or ends at once between telegrams.
        {{"--listen", "--format", "jsonl", "--count", "0"},
         {p1 + "/ABC5X\r\n", "\r\n1(2*kWh)\r\n!2FCF\r\n/ABC5X\r\n"},
         {SIGTERM},
         "0\n--\n" + jsonl(p1Rows, "ok", "050") + jsonl(p1Rows, "ok", "100")},
        // A second signal ends it at once: the telegram in progress is printed as it is.
        {{"--listen", "--format", "jsonl", "--count", "0"},
         {p1 + "/ABC5X\r\n"},
         {SIGTERM, SIGINT},
         "130\n--\n" + jsonl(p1Rows, "ok", "050") + jsonl(R"j({"data": "/ABC5X"})j", "none", "100")},
    };
    for (const auto& c : cases) {
        test::FakeClock clock;
        test::FakePort port(&clock);
        test::TempDir dir;
        std::ostringstream out, err;
        std::string error;
        ReadRun run(*ParseOptions(c.args, error), port, clock, out, err,
                    {dir.File("Varnel.ini"), dir.File("Log")});
        const bool listen = c.args[0] == "--listen";
        run.Start();
        for (std::size_t tick = 0, fed = 0; tick < 400 && !run.Over(); ++tick) {
            if (fed < c.chunks.size() && (listen || port.CallsStartingWith("purge").size() > fed))
                port.Feed(c.chunks[fed++]);
            clock.Advance(50);
            if (!run.Tick() && tick < c.stops.size())
                run.OnStopSignal(c.stops[tick]);
        }
        const int exitCode = run.Finish();
        EXPECT_EQ(std::to_string(exitCode) + '\n' + err.str() + "--\n" + out.str(), c.expected);
        EXPECT_FALSE(port.open); // released
        EXPECT_TRUE(c.open.empty() || port.calls.at(0) == "open " + c.open + " 7E1 rts=1 dtr=1 flow=0000000");
        const std::string sent(port.written.begin(), port.written.end());
        if (const auto again = sent.find("/?!", 1); again != std::string::npos) {
            EXPECT_GE(port.writeTimes[again] - port.writeTimes[again - 1], 1500u); // the meter rests
            EXPECT_NE(test::ReadFileBytes(dir.File("Log")).find(" -- Retry 1 -- "), std::string::npos);
        }
    }
}

} // namespace
} // namespace varnel::cli
