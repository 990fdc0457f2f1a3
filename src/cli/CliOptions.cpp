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

// Headed "Usage:", "Options:", "Exit status:": the man page is made from this text.
std::string Usage()
{
    return "Usage: varnel-read [OPTION]...\n"
           "One readout of an IEC 62056-21 meter (readout mode), with the window's engine,\n"
           "rows and trace log \"Log1107.txt\" in the current directory.\n"
           "\n"
           "Options:\n"
           "  --port PORT           COMn (as the window names ports) or a device path;\n"
           "                        default: the port saved by the window\n"
           "  --initial-baud RATE   the window's \"Initial baudrate:\" choice (default auto)\n"
           "  --transmit-baud RATE  the window's \"Transmit baudrate:\" choice (default auto)\n"
           "  --format FORMAT       text, csv or json (default text)\n"
           "  -h, --help            show this help and exit\n"
           "  --version             show the version and exit\n"
           "\n"
           "RATE is one of: " + RateList() + "\n"
           "\n"
           "Exit status:\n"
           "  0   the readout ended at its block check byte\n"
           "  1   the port could not be opened (the reason is on stderr)\n"
           "  2   the meter fell silent for 3 s (time-out)\n"
           "  64  bad arguments\n";
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
        if (name == "--version") {
            o.version = true;
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
