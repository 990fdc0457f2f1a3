#include "CliOptions.h"
#include "CliView.h"

#include "FakeClock.h"
#include "FakePort.h"
#include "core/ControlIds.h"
#include "readout/ReadoutCore.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <sstream>

namespace varnel::cli {
namespace {

// port|initial|transmit|format|help version|address|listen count 8N1 listenBaud|capture, or the error.
std::string Parsed(const std::vector<std::string>& args)
{
    std::string error;
    const auto o = ParseOptions(args, error);
    std::ostringstream s;
    if (o)
        s << o->port << '|' << o->initialBaudIndex << '|' << o->transmitBaudIndex << '|' << int(o->format)
          << '|' << o->help << ' ' << o->version << '|' << o->address << '|' << o->listen << ' ' << o->count
          << ' ' << o->eightBits << ' ' << o->listenBaud << '|' << o->capture;
    return o ? s.str() : error;
}

TEST(CliOptions, TakeTheDocumentedValuesAndSayExactlyWhatIsWrong)
{
    const std::string rates = "auto 300 600 1200 2400 4800 9600 19200 38400 57600";
    const struct {
        std::vector<std::string> args;
        std::string expected;
    } cases[] = {
        {{}, "|0|0|0|0 0||0 1 0 9600|"},
        {{"--transmit-baud", "57600", "--format", "text"}, "|0|9|0|0 0||0 1 0 9600|"},
        {{"--initial-baud=9600", "--address=4711 A", "--capture=c", "-h"}, "|6|0|0|1 0|4711 A|0 1 0 9600|c"},
        {{"--listen", "--count", "1000000", "--framing", "7E1", "--initial-baud=300"},
         "|1|0|0|0 0||1 1000000 0 300|"},
        {{"--listen", "--framing=8N1", "--initial-baud", "115200", "--version"}, "|0|0|0|0 1||1 1 1 115200|"},
        {{"COM1"}, "unknown argument: COM1"},
        {{"--listen=yes"}, "unknown argument: --listen=yes"},
        {{"--port"}, "--port needs a value"},
        {{"--count", "2"}, "--count belongs to --listen"},
        {{"--capture", ""}, "--capture needs a file name"},
        {{"--framing", "8N1"}, "--framing belongs to --listen"},
        {{"--port="}, "--port needs a COM name or a device path"},
        {{"--format", "xml"}, "--format takes text, csv or json, not 'xml'"},
        {{"--address", "12-34"}, "--address takes 1 to 32 digits, letters and blanks, not '12-34'"},
        {{"--initial-baud", "115200"}, "--initial-baud takes " + rates + ", not '115200'"},
        {{"--transmit-baud", "Auto"}, "--transmit-baud takes " + rates + ", not 'Auto'"},
        {{"--listen", "--framing", "8N1", "--initial-baud", "1"},
         "--initial-baud takes " + rates + " 115200, not '1'"},
        {{"--listen", "--address", "1"},
         "--address and --listen exclude each other: a push meter is not asked"},
        {{"--listen", "--framing", "8n1"}, "--framing takes 7E1 or 8N1, not '8n1'"},
        {{"--listen", "--count", "1000001"}, "--count takes a number from 1 to 1000000, not '1000001'"}};
    for (const auto& c : cases)
        EXPECT_EQ(Parsed(c.args), c.expected) << testing::PrintToString(c.args);
    EXPECT_NE(Usage().find("  " + rates + "\n"), std::string::npos);
}

// Wired as main wires it: the options' port and rate reach the open, RTS and DTR raised (an
// optical probe draws its power from them); rows come as the result list adds them.
TEST(CliReadout, OpensTheChosenPortAndPrintsRowsAndLabelsInEachFormat)
{
    int argc = 1;
    char arg0[] = "CliTest", *argv[] = {arg0};
    QCoreApplication app(argc, argv); // for the view's timers
    const std::string labels =
        "{\"baudRate\": \"Auto (300)\", \"protocol\": \"?\", \"flag\": \"?\", \"description\": \"?\", ";
    const struct {
        std::vector<std::string> args;
        std::string open, out, err;
    } cases[] = {
        {{"--port", "COM5"},
         "/dev/ttyS4 300",
         "/A\\\"\x01\n1(2,3)\t1\t2,3\nBaud rate : Auto (300)\nProtocol : ?\nFLAG : ?\nDescription : ?\n",
         ""},
        {{"--port=com33", "--initial-baud", "9600", "--format", "csv"},
         "/dev/ttyUSB0 9600",
         "Data,Code (OBIS),Value\r\n\"/A\\\"\"\x01\",,\r\n\"1(2,3)\",1,\"2,3\"\r\n",
         ""},
        {{"--port", "/dev/ttyACM3", "--format", "json"},
         "/dev/ttyACM3 300",
         labels
             + "\"rows\": [\n  {\"data\": "
               "\"/A\\\\\\\"\\u0001\"},\n  {\"data\": \"1(2,3)\", \"code\": \"1\", \"value\": \"2,3\"}\n]}\n",
         ""},
        {{"--port", "COM2", "--format", "json"},
         "/dev/ttyS1 300",
         labels + "\"rows\": []}\n",
         "Open port COM error: COM2 (/dev/ttyS1): No such file or directory\n"}};
    for (const auto& c : cases) {
        test::FakeClock clock;
        test::FakePort port(&clock);
        port.failOpen = !c.err.empty();
        const PortNames names;
        std::string error;
        const auto options = ParseOptions(c.args, error);
        std::ostringstream out, err;
        CliView view(*options, out, err);
        ReadoutCore core(port, clock, view, names, "/dev/null"); // no trace log
        view.SetSerial(&core.serial);
        SelectPort(options->port, core.serial);
        core.engine.StartReadout();
        if (core.serial.IsOpen()) {
            view.InsertRow(0, "/A\\\"\x01");
            view.EnsureRowVisible(0);
            view.InsertRow(1, "1(2,3)");
            view.SetRowColumns(1, "1", "2,3");
        }
        view.Finish();
        EXPECT_EQ(port.calls.at(0), "open " + c.open + " 7E1 rts=1 dtr=1 flow=0000000");
        EXPECT_EQ(out.str(), c.out);
        EXPECT_EQ(err.str(), c.err);
        EXPECT_EQ(view.ComboItemText(IDC_INITIAL_BAUD, -1) + view.ComboItemText(IDC_PORT, 0),
                  ""); // no such item
    }
}

} // namespace
} // namespace varnel::cli
