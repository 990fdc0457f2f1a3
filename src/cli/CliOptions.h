#pragma once

#include <optional>
#include <string>
#include <vector>

namespace varnel {
class SerialLine;
}

namespace varnel::cli {

enum class Format { Text, Csv, Json, Jsonl };

struct Options {
    std::string port;          // empty: the port saved by the window
    int initialBaudIndex = 0;  // index into the "Initial baudrate:" items
    int transmitBaudIndex = 0; // index into the "Transmit baudrate:" items
    Format format = Format::Text;
    bool help = false;
    bool version = false;
    std::string address;    // empty: the request without an address
    bool listen = false;    // push meter: send nothing, read telegrams
    int count = 1;          // telegrams to read with --listen; 0: until a stop signal
    bool eightBits = false; // --framing 8N1 (P1 ports); otherwise 7E1
    int listenBaud = 9600;  // the rate --listen opens the port at
    std::string capture;    // file for every byte received and sent
    int retries = 0;        // further tries of a readout that timed out or failed its check
};

// Parses the arguments after the program name; on failure returns nothing and
// sets `error` to a one-line reason.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);

std::string Usage();

// Points the line at `--port`: COMn is the window's port index n - 1, anything
// else a device path opened as given.
void SelectPort(const std::string& port, SerialLine& serial);

} // namespace varnel::cli
