#pragma once

#include "MeterProtocol.h"

#include <string>
#include <vector>

namespace varnel::sim {

// A typical three-phase meter: registers, history (*NN), two-value and text lines.
std::vector<std::string> BuiltInReadout();

// Puts a data file into `config`. A ".bin" file is a raw capture: the bytes
// after its identification line are replayed as they are, the bytes before it
// (noise, probe echo) go just before the identification. Any other file gives
// the data lines. A file's own identification line (one starting with '/', not
// "/?") is used unless `keepIdentification`. False, with `error` set, when the
// file cannot be read.
bool LoadDataFile(const std::string& path, MeterConfig& config, bool keepIdentification, std::string& error);

} // namespace varnel::sim
