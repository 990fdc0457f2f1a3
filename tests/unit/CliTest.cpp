#include "CliOptions.h"
#include "CliView.h"

#include "core/ControlIds.h"

#include <gtest/gtest.h>

#include <sstream>

namespace varnel::cli {
namespace {

struct ArgsCase {
    std::vector<std::string> args;
    bool ok;
    int initial, transmit;
    Format format;
    std::string port;
};

class ParseOptionsTest : public ::testing::TestWithParam<ArgsCase> {};

TEST_P(ParseOptionsTest, AcceptsOnlyTheDocumentedValues)
{
    const ArgsCase& c = GetParam();
    std::string error;
    const auto o = ParseOptions(c.args, error);
    ASSERT_EQ(o.has_value(), c.ok) << error;
    if (!c.ok) {
        EXPECT_FALSE(error.empty());
        return;
    }
    EXPECT_EQ(o->initialBaudIndex, c.initial);
    EXPECT_EQ(o->transmitBaudIndex, c.transmit);
    EXPECT_EQ(o->format, c.format);
    EXPECT_EQ(o->port, c.port);
}

INSTANTIATE_TEST_SUITE_P(
    Args, ParseOptionsTest,
    ::testing::Values(ArgsCase{{}, true, 0, 0, Format::Text, ""},
                      ArgsCase{{"--port", "COM33", "--initial-baud", "300", "--transmit-baud", "57600"},
                               true, 1, 9, Format::Text, "COM33"},
                      ArgsCase{{"--initial-baud=9600", "--format=json", "--port=/dev/ttyUSB0"}, true, 6, 0,
                               Format::Json, "/dev/ttyUSB0"},
                      ArgsCase{{"--transmit-baud", "auto", "--format", "csv"}, true, 0, 0, Format::Csv, ""},
                      ArgsCase{{"--initial-baud", "115200"}, false, 0, 0, Format::Text, ""},
                      ArgsCase{{"--initial-baud", "Auto (300)"}, false, 0, 0, Format::Text, ""},
                      ArgsCase{{"--format", "xml"}, false, 0, 0, Format::Text, ""},
                      ArgsCase{{"--port"}, false, 0, 0, Format::Text, ""},
                      ArgsCase{{"--port="}, false, 0, 0, Format::Text, ""},
                      ArgsCase{{"COM1"}, false, 0, 0, Format::Text, ""},
                      ArgsCase{{"--address", "12-34"}, false, 0, 0, Format::Text, ""},
                      ArgsCase{{"--address", std::string(33, '1')}, false, 0, 0, Format::Text, ""},
                      ArgsCase{{"--listen", "--initial-baud", "115200"}, false, 0, 0, Format::Text, ""},
                      ArgsCase{{"--count", "2"}, false, 0, 0, Format::Text, ""}));

TEST(CliUsage, NamesTheAcceptedRates)
{
    EXPECT_NE(Usage().find("auto 300 600 1200 2400 4800 9600 19200 38400 57600"), std::string::npos);
}

// Feeds rows the way the result list does: insert, columns, scroll into view.
void AddRows(CliView& view)
{
    view.InsertRow(0, "/ABC5\\2X\"Y");
    view.EnsureRowVisible(0);
    view.InsertRow(1, "0.9.1(10,3)");
    view.SetRowColumns(1, "0.9.1", "10,3");
    view.EnsureRowVisible(1);
    view.SetControlText(IDC_BAUD_LABEL, "9600");
    view.SetControlText(IDC_PROTOCOL_LABEL, "E");
    view.SetControlText(IDC_FLAG_LABEL, "ABC");
    view.SetControlText(IDC_DESCRIPTION_LABEL, "X\"Y\x01");
    view.Finish();
}

TEST(CliViewFormats, TextCsvAndJson)
{
    std::ostringstream text, csv, json, err;
    {
        CliView view(Options{}, text, err);
        AddRows(view);
    }
    EXPECT_EQ(text.str(), "/ABC5\\2X\"Y\n0.9.1(10,3)\t0.9.1\t10,3\n"
                          "Baud rate : 9600\nProtocol : E\nFLAG : ABC\nDescription : X\"Y\x01\n");
    Options o;
    o.format = Format::Csv;
    {
        CliView view(o, csv, err);
        AddRows(view);
    }
    EXPECT_EQ(csv.str(), "Data,Code (OBIS),Value\r\n\"/ABC5\\2X\"\"Y\",,\r\n\"0.9.1(10,3)\",0.9.1,\"10,3\"\r\n");
    o.format = Format::Json;
    {
        CliView view(o, json, err);
        AddRows(view);
    }
    EXPECT_EQ(json.str(), "{\"baudRate\": \"9600\", \"protocol\": \"E\", \"flag\": \"ABC\", "
                          "\"description\": \"X\\\"Y\\u0001\", \"rows\": [\n"
                          "  {\"data\": \"/ABC5\\\\2X\\\"Y\"},\n"
                          "  {\"data\": \"0.9.1(10,3)\", \"code\": \"0.9.1\", \"value\": \"10,3\"}\n]}\n");
    EXPECT_TRUE(err.str().empty());
}

TEST(CliViewFormats, UntouchedLabelsShowTheWindowsStartTexts)
{
    std::ostringstream out, err;
    Options o;
    o.format = Format::Json;
    CliView view(o, out, err);
    view.Finish();
    EXPECT_EQ(out.str(), "{\"baudRate\": \"Auto (300)\", \"protocol\": \"?\", \"flag\": \"?\", "
                         "\"description\": \"?\", \"rows\": []}\n");
}

} // namespace
} // namespace varnel::cli
