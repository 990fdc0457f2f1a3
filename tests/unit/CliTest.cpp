#include "CliOptions.h"
#include "CliView.h"

#include "FakeClock.h"
#include "FakePort.h"
#include "TempDir.h"
#include "core/ControlIds.h"
#include "readout/ReadoutCore.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <sstream>

namespace varnel::cli {
namespace {

// The fields that differ from a run without arguments, or the error.
std::string Parsed(const std::vector<std::string>& args)
{
    std::string error;
    const auto o = ParseOptions(args, error);
    if (!o)
        return error;
    const Options d;
    std::ostringstream s;
    const auto field = [&s](const char* name, const auto& value, const auto& usual) {
        if (value != usual)
            s << ' ' << name << '=' << value;
    };
    field("port", o->port, d.port), field("initial", o->initialBaudIndex, d.initialBaudIndex);
    field("transmit", o->transmitBaudIndex, d.transmitBaudIndex), field("format", int(o->format), int(d.format));
    field("help", o->help, d.help), field("version", o->version, d.version), field("address", o->address, d.address);
    field("listen", o->listen, d.listen), field("count", o->count, d.count), field("8N1", o->eightBits, d.eightBits);
    field("listenBaud", o->listenBaud, d.listenBaud), field("capture", o->capture, d.capture);
    return "ok" + s.str();
}

TEST(CliOptions, TakeTheDocumentedValuesAndSayExactlyWhatIsWrong)
{
    const std::string rates = "auto 300 600 1200 2400 4800 9600 19200 38400 57600";
    const struct { std::vector<std::string> args; std::string expected; } cases[] = {
        {{}, "ok"}, {{"--format", "text", "--transmit-baud", "auto", "--version"}, "ok version=1"},
        {{"--port", "COM33", "--initial-baud", "300", "--transmit-baud", "57600", "--format", "csv"},
         "ok port=COM33 initial=1 transmit=9 format=1 listenBaud=300"},
        {{"--port=/dev/x", "--initial-baud=9600", "--format=json", "--address=4711 A", "--capture=c", "-h"},
         "ok port=/dev/x initial=6 format=2 help=1 address=4711 A capture=c"},
        {{"--listen", "--count", "1000000", "--framing", "7E1", "--initial-baud", "2400"},
         "ok initial=4 listen=1 count=1000000 listenBaud=2400"},
        {{"--listen", "--framing=8N1", "--initial-baud", "115200", "--help"}, "ok help=1 listen=1 8N1=1 listenBaud=115200"},
        {{"COM1"}, "unknown argument: COM1"}, {{"--listen=yes"}, "unknown argument: --listen=yes"},
        {{"--port"}, "--port needs a value"}, {{"--port="}, "--port needs a COM name or a device path"},
        {{"--capture", ""}, "--capture needs a file name"}, {{"--format", "xml"}, "--format takes text, csv or json, not 'xml'"},
        {{"--address", "12-34"}, "--address takes 1 to 32 digits, letters and blanks, not '12-34'"},
        {{"--initial-baud", "115200"}, "--initial-baud takes " + rates + ", not '115200'"},
        {{"--listen", "--framing", "8N1", "--initial-baud", "Auto (300)"},
         "--initial-baud takes " + rates + " 115200, not 'Auto (300)'"},
        {{"--transmit-baud", "Auto"}, "--transmit-baud takes " + rates + ", not 'Auto'"},
        {{"--count", "2"}, "--count belongs to --listen"}, {{"--framing", "8N1"}, "--framing belongs to --listen"},
        {{"--listen", "--address", "1"}, "--address and --listen exclude each other: a push meter is not asked"},
        {{"--listen", "--framing", "8n1"}, "--framing takes 7E1 or 8N1, not '8n1'"},
        {{"--listen", "--count", "1000001"}, "--count takes a number from 1 to 1000000, not '1000001'"},
        {{"--listen", "--count=0"}, "--count takes a number from 1 to 1000000, not '0'"}};
    for (const auto& c : cases)
        EXPECT_EQ(Parsed(c.args), c.expected) << testing::PrintToString(c.args);
    EXPECT_NE(Usage().find("  " + rates + "\n"), std::string::npos);
}

// As main wires it: the options' port and rate reach the open, with RTS and DTR raised
// (an optical probe draws its power from them); a failed open names port and device.
TEST(CliReadout, OpensTheChosenPortWithRtsAndDtrRaised)
{
    int argc = 1;
    char arg0[] = "CliTest", *argv[] = {arg0};
    QCoreApplication app(argc, argv); // for the view's timers
    const struct { std::vector<std::string> args; std::string open, baud, err; } cases[] = {
        {{"--port", "COM5"}, "/dev/ttyS4 300", "Auto (300)", ""},
        {{"--port=com33", "--initial-baud", "9600"}, "/dev/ttyUSB0 9600", "9600",
         "Open port COM error: COM33 (/dev/ttyUSB0): No such file or directory\n"}};
    for (const auto& c : cases) {
        test::TempDir dir;
        test::FakeClock clock;
        test::FakePort port(&clock);
        port.failOpen = !c.err.empty();
        const PortNames names;
        std::string error;
        const auto options = ParseOptions(c.args, error);
        std::ostringstream out, err;
        CliView view(*options, out, err);
        ReadoutCore core(port, clock, view, names, dir.File("Log1107.txt"));
        view.SetSerial(&core.serial);
        SelectPort(options->port, core.serial);
        core.engine.StartReadout();
        view.Finish();
        EXPECT_EQ(port.calls.at(0), "open " + c.open + " 7E1 rts=1 dtr=1 flow=0000000");
        EXPECT_EQ(out.str(), "Baud rate : " + c.baud + "\nProtocol : ?\nFLAG : ?\nDescription : ?\n");
        EXPECT_EQ(err.str(), c.err);
    }
}

// Rows come as the result list adds them: inserted, given columns, scrolled into view;
// the last one is still pending when the readout ends.
TEST(CliView, PrintsRowsAndLabelsInEachFormat)
{
    const struct { Format format; bool feed; std::string expected; } cases[] = {
        {Format::Text, true, "/ABC5\\2X\"Y\n0.9.1(10,3)\t0.9.1\t10,3\n"
                             "Baud rate : 9600\nProtocol : E\nFLAG : ABC\nDescription : X\"Y\x01\n"},
        {Format::Csv, true, "Data,Code (OBIS),Value\r\n\"/ABC5\\2X\"\"Y\",,\r\n\"0.9.1(10,3)\",0.9.1,\"10,3\"\r\n"},
        {Format::Json, true, "{\"baudRate\": \"9600\", \"protocol\": \"E\", \"flag\": \"ABC\", "
                             "\"description\": \"X\\\"Y\\u0001\", \"rows\": [\n  {\"data\": \"/ABC5\\\\2X\\\"Y\"},\n"
                             "  {\"data\": \"0.9.1(10,3)\", \"code\": \"0.9.1\", \"value\": \"10,3\"}\n]}\n"},
        {Format::Json, false, "{\"baudRate\": \"Auto (300)\", \"protocol\": \"?\", \"flag\": \"?\", "
                              "\"description\": \"?\", \"rows\": []}\n"}};
    for (const auto& c : cases) {
        std::ostringstream out, err;
        Options options;
        options.format = c.format;
        CliView view(options, out, err);
        if (c.feed) {
            view.InsertRow(0, "/ABC5\\2X\"Y");
            view.EnsureRowVisible(0);
            view.InsertRow(1, "0.9.1(10,3)");
            view.SetRowColumns(1, "0.9.1", "10,3");
            for (const auto& [id, text] : std::map<int, std::string>{{IDC_BAUD_LABEL, "9600"},
                     {IDC_PROTOCOL_LABEL, "E"}, {IDC_FLAG_LABEL, "ABC"}, {IDC_DESCRIPTION_LABEL, "X\"Y\x01"}})
                view.SetControlText(id, text);
        }
        view.Finish();
        EXPECT_EQ(out.str(), c.expected);
        EXPECT_EQ(err.str(), "");
        // Out of range, or no combo: empty, as a combo answers.
        EXPECT_EQ(view.ComboItemText(IDC_INITIAL_BAUD, -1) + view.ComboItemText(IDC_TRANSMIT_BAUD, 10)
                      + view.ComboItemText(IDC_PORT, 0), "");
    }
}

} // namespace
} // namespace varnel::cli
