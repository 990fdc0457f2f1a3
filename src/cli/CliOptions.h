#pragma once

#include <optional>
#include <string>
#include <vector>

namespace varnel::cli {

enum class Format { Text, Csv, Json };

struct Options {
    std::string port;          // empty: the port saved by the window
    int initialBaudIndex = 0;  // index into the "Initial baudrate:" items
    int transmitBaudIndex = 0; // index into the "Transmit baudrate:" items
    Format format = Format::Text;
    bool help = false;
};

// Parses the arguments after the program name; on failure returns nothing and
// sets `error` to a one-line reason.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);

std::string Usage();

} // namespace varnel::cli
