#include "CliOptions.h"

#include "readout/BaudChoices.h"
#include "serial/PortNames.h"
#include "serial/SerialLine.h"

namespace varnel::cli {

namespace {

// "auto" is the first item of each combo; a rate is the item with that text.
std::optional<int> BaudIndex(const std::string& value)
{
    if (value == "auto")
        return 0;
    for (std::size_t i = 1; i < kInitialBaudItems.size(); ++i)
        if (value == kInitialBaudItems[i])
            return static_cast<int>(i);
    return std::nullopt;
}

std::string RateList()
{
    std::string list = "auto";
    for (std::size_t i = 1; i < kInitialBaudItems.size(); ++i)
        list += std::string(" ") + kInitialBaudItems[i];
    return list;
}

} // namespace

std::string Usage()
{
    return "usage: varnel-read [--port PORT] [--initial-baud RATE] [--transmit-baud RATE]"
           " [--format text|csv|json]\n"
           "  PORT  COMn (as the window names ports) or a device path; default: the port saved by the window\n"
           "  RATE  one of: " + RateList() + " (default auto)\n";
}

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error)
{
    Options o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            hasValue = true;
        }
        if (name == "--help" || name == "-h") {
            o.help = true;
            continue;
        }
        if (name != "--port" && name != "--initial-baud" && name != "--transmit-baud" && name != "--format") {
            error = "unknown argument: " + args[i];
            return std::nullopt;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                error = name + " needs a value";
                return std::nullopt;
            }
            value = args[++i];
        }
        if (name == "--port") {
            if (value.empty()) {
                error = "--port needs a COM name or a device path";
                return std::nullopt;
            }
            o.port = value;
        } else if (name == "--format") {
            if (value == "text")
                o.format = Format::Text;
            else if (value == "csv")
                o.format = Format::Csv;
            else if (value == "json")
                o.format = Format::Json;
            else {
                error = "--format takes text, csv or json, not '" + value + "'";
                return std::nullopt;
            }
        } else {
            const auto index = BaudIndex(value);
            if (!index) {
                error = name + " takes " + RateList() + ", not '" + value + "'";
                return std::nullopt;
            }
            (name == "--initial-baud" ? o.initialBaudIndex : o.transmitBaudIndex) = *index;
        }
    }
    return o;
}

void SelectPort(const std::string& port, SerialLine& serial)
{
    if (const auto com = PortNames::ParseComName(port))
        serial.m_portIndex = *com - 1;
    else
        serial.SetDeviceOverride(port);
}

} // namespace varnel::cli
