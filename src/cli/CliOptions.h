#pragma once

#include <optional>
#include <string>
#include <vector>

namespace varnel {
class SerialLine;
}

namespace varnel::cli {

enum class Format { Text, Csv, Json };

struct Options {
    std::string port;          // empty: the port saved by the window
    int initialBaudIndex = 0;  // index into the "Initial baudrate:" items
    int transmitBaudIndex = 0; // index into the "Transmit baudrate:" items
    Format format = Format::Text;
    bool help = false;
    bool version = false;
};

// Parses the arguments after the program name; on failure returns nothing and
// sets `error` to a one-line reason.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);

std::string Usage();

// Points the line at `--port`: COMn is the window's port index n - 1, anything
// else a device path opened as given.
void SelectPort(const std::string& port, SerialLine& serial);

} // namespace varnel::cli
