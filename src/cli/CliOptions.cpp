#include "CliOptions.h"

#include "readout/BaudChoices.h"
#include "readout/DeviceAddress.h"
#include "serial/PortNames.h"
#include "serial/SerialLine.h"

#include <cstdlib>

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

bool ParseNumber(const std::string& text, int low, int high, int& number)
{
    char* end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || n < low || n > high)
        return false;
    number = static_cast<int>(n);
    return true;
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
           "Reads an electricity meter with IEC 62056-21 (readout mode, or the telegrams of a push meter)\n"
           "and prints its rows; writes the trace log Log1107.txt in the current directory.\n"
           "\n"
           "Options:\n"
           "  --port PORT           COMn (as the window names ports), a device path, or a network port\n"
           "                        (below); default: the port saved by the window\n"
           "  --initial-baud RATE   the rate of the request, or with --listen of the telegrams: one of\n"
           "                        "
           + RateList()
           + "\n"
             "                        (default auto: 300, with --listen 9600; 115200 too with\n"
             "                        --framing 8N1)\n"
             "  --transmit-baud RATE  the rate of the data block in mode C, as the window's choice; default "
             "auto\n"
             "  --format FORMAT       text (rows as they arrive, then the labels), csv, json (one object at\n"
             "                        the end) or jsonl (with --listen: one line per telegram); default "
             "text\n"
             "  --address ADDR        send the request to the meter with this address (1 to 32 digits, "
             "letters\n"
             "                        and blanks)\n"
             "  --retries N           after a time-out or a failed block check, read again up to N more\n"
             "                        times (0 to 100, default 0), 1.5 s after the try before; text and\n"
             "                        the log show every try, csv and json the last, stderr how many\n"
             "  --listen              send nothing; read the telegrams a push meter (mode D, P1 port) sends\n"
             "  --count N             with --listen: end after N telegrams (default 1), or after 15 s\n"
             "                        without a byte; 0: follow the meter until SIGINT or SIGTERM (not\n"
             "                        with --format json)\n"
             "  --framing FRAMING     with --listen: 7E1 (default) or 8N1\n"
             "  --capture FILE        write every byte received and sent, with its time, to FILE\n"
             "  -h, --help            show this help and exit\n"
             "  --version             show the version and exit\n"
             "\n"
             "Network ports:\n"
             "  tcp://HOST:PORT       a raw TCP link to a serial converter or modem: the bytes only. Its "
             "line\n"
             "                        runs at the rate it is set to, so choose that rate; the meter's rate\n"
             "                        switch cannot reach it, which a row \" -- Rate fixed by the link -- \" "
             "says\n"
             "  rfc2217://HOST:PORT   a device server with RFC 2217: rate, 7E1, RTS/DTR and break reach its\n"
             "                        line. HOST is a name or an address ([::1] for IPv6); a connection is\n"
             "                        given 5 s\n"
             "  ?parity=soft          after either: for a link that carries 8 bits unchanged to a 7E1 "
             "meter.\n"
             "                        The parity bit is set on every byte sent, checked and cleared on "
             "every\n"
             "                        byte received; the readout ends with \" -- Parity errors: N -- \" and\n"
             "                        json gives \"parityErrors\"\n"
             "  ser2net in front of a probe serves it as rfc2217://HOST:4001 with this ser2net.yaml:\n"
             "    connection: &meter\n"
             "      accepter: telnet(rfc2217),tcp,4001\n"
             "      connector: serialdev,/dev/ttyUSB0,300e71,local\n"
             "Output:\n"
             "  json: {\"baudRate\", \"protocol\", \"flag\", \"description\", \"rows\": [{\"data\", and for\n"
             "  a data line \"code\", \"value\", \"unit\", \"number\"}], \"blockCheck\"}. \"unit\" is the "
             "text\n"
             "  after '*' (1.8.0(012.5*kWh): kWh), where there is one; \"number\" the value as a JSON\n"
             "  number with every digit the meter sent, where it is a decimal number (sign, digits, one\n"
             "  '.' or ','). \"blockCheck\" is \"ok\", \"error\" or \"none\" (no STX block or P1 CRC, or\n"
             "  no end). A failed check is also a row: \" -- BCC error (0xRR, expected 0xEE) -- \" (RR\n"
             "  received, EE computed) or \" -- CRC error -- \". jsonl: the same object for each telegram\n"
             "  on one line, as soon as it ends, with \"ended\": its time in ISO 8601, UTC. csv: Data,\n"
             "  Code (OBIS), Value, Unit. With --listen the trace log starts anew beyond 1 MiB, the older\n"
             "  part kept as Log1107.txt.1.\n"
             "\n"
             "Signals:\n"
             "  SIGINT or SIGTERM ends a run: the rows so far are printed (in json a whole object), the log\n"
             "  closed and the port released. With --listen --count 0 that is the normal end, after the\n"
             "  telegram in progress (a second signal ends it at once).\n"
             "\n"
             "Exit status:\n"
             "  0   the readout ended at its block check byte, which was right; with --listen, N telegrams\n"
             "      were read (or --count 0 was ended by a signal), none with a failed check\n"
             "  1   the port could not be opened (the reason is on stderr)\n"
             "  2   the meter fell silent (time-out)\n"
             "  3   the block arrived but its check failed (with --listen: a telegram's BCC or CRC)\n"
             "  64  bad arguments\n"
             "  73  the capture file cannot be created\n"
             "  130 ended by SIGINT, 143 by SIGTERM (but following with --listen --count 0)\n";
}

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error)
{
    Options o;
    std::string initial = "auto";
    std::string count;
    std::string framing;
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
        if (name == "--listen" && !hasValue) {
            o.listen = true;
            continue;
        }
        if (name != "--port" && name != "--initial-baud" && name != "--transmit-baud" && name != "--format"
            && name != "--address" && name != "--count" && name != "--framing" && name != "--capture"
            && name != "--retries") {
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
            else if (value == "jsonl")
                o.format = Format::Jsonl;
            else {
                error = "--format takes text, csv, json or jsonl, not '" + value + "'";
                return std::nullopt;
            }
        } else if (name == "--address") {
            if (!IsValidDeviceAddress(value)) {
                error = "--address takes 1 to 32 digits, letters and blanks, not '" + value + "'";
                return std::nullopt;
            }
            o.address = value;
        } else if (name == "--count") {
            count = value;
        } else if (name == "--retries") {
            if (!ParseNumber(value, 0, 100, o.retries)) {
                error = "--retries takes a number from 0 to 100, not '" + value + "'";
                return std::nullopt;
            }
        } else if (name == "--framing") {
            framing = value;
        } else if (name == "--capture") {
            if (value.empty()) {
                error = "--capture needs a file name";
                return std::nullopt;
            }
            o.capture = value;
        } else if (name == "--initial-baud") {
            initial = value;
        } else {
            const auto index = BaudIndex(value);
            if (!index) {
                error = name + " takes " + RateList() + ", not '" + value + "'";
                return std::nullopt;
            }
            o.transmitBaudIndex = *index;
        }
    }
    if (!o.listen && (!count.empty() || !framing.empty())) {
        error = std::string(count.empty() ? "--framing" : "--count") + " belongs to --listen";
        return std::nullopt;
    }
    if (o.listen && !o.address.empty()) {
        error = "--address and --listen exclude each other: a push meter is not asked";
        return std::nullopt;
    }
    if (o.listen && o.retries > 0) {
        error = "--retries belongs to a readout: a push meter sends again by itself";
        return std::nullopt;
    }
    if (!o.listen && o.format == Format::Jsonl) {
        error = "--format jsonl belongs to --listen";
        return std::nullopt;
    }
    if (!framing.empty() && framing != "7E1" && framing != "8N1") {
        error = "--framing takes 7E1 or 8N1, not '" + framing + "'";
        return std::nullopt;
    }
    o.eightBits = framing == "8N1";
    if (!count.empty() && !ParseNumber(count, 0, 1000000, o.count)) {
        error = "--count takes a number from 0 to 1000000, not '" + count + "'";
        return std::nullopt;
    }
    if (o.count == 0 && o.format == Format::Json) {
        error = "--count 0 reads without end: use --format jsonl, csv or text, not json";
        return std::nullopt;
    }
    if (o.listen && o.eightBits && initial == "115200") {
        o.listenBaud = 115200;
        return o;
    }
    const auto index = BaudIndex(initial);
    if (!index) {
        error =
            "--initial-baud takes " + RateList() + (o.eightBits ? " 115200" : "") + ", not '" + initial + "'";
        return std::nullopt;
    }
    o.initialBaudIndex = *index;
    if (*index > 0)
        o.listenBaud = std::atoi(kInitialBaudItems[static_cast<std::size_t>(*index)]);
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
