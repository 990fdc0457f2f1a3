#include "MeterData.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace varnel::sim {

namespace {

bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool IsIdentification(const std::string& bytes, std::size_t at)
{
    return bytes[at] == '/' && (at + 1 >= bytes.size() || bytes[at + 1] != '?');
}

void TakeRaw(const std::string& bytes, MeterConfig& config, bool keepIdentification)
{
    // Only a '/' line before the block opens counts; a '/' inside values does not.
    const std::size_t blockStart = bytes.find_first_of("\x01\x02");
    std::size_t slash = 0;
    while (slash < bytes.size() && slash < blockStart && !IsIdentification(bytes, slash))
        ++slash;
    const std::size_t lf = bytes.find('\n', slash);
    if (slash >= bytes.size() || slash >= blockStart || lf == std::string::npos || lf > blockStart) {
        config.raw = bytes;
        return;
    }
    config.preamble = bytes.substr(0, slash);
    std::size_t textEnd = lf;
    if (textEnd > slash && bytes[textEnd - 1] == '\r')
        --textEnd;
    if (!keepIdentification) {
        config.identification = bytes.substr(slash, textEnd - slash);
        config.identificationEnd = bytes.substr(textEnd, lf + 1 - textEnd);
    }
    config.raw = bytes.substr(lf + 1);
}

void TakeLines(const std::string& bytes, MeterConfig& config, bool keepIdentification)
{
    std::vector<std::string> lines;
    std::istringstream in(bytes);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    if (!lines.empty() && !lines.front().empty() && IsIdentification(lines.front(), 0)) {
        if (!keepIdentification)
            config.identification = lines.front();
        lines.erase(lines.begin());
    }
    config.lines = std::move(lines);
    config.raw.reset();
}

} // namespace

std::vector<std::string> BuiltInReadout()
{
    return {
        "0.0.0(12345678)",
        "0.0.1(VARNEL-SIM 3P)",
        "0.2.0(V1.04)",
        "0.9.1(101530)",
        "0.9.2(250612)",
        "0.1.0(07)",
        "0.1.2*07(2506010000)",
        "0.1.2*06(2505010000)",
        "1.8.0(012345.678*kWh)",
        "1.8.1(008234.120*kWh)",
        "1.8.2(004111.558*kWh)",
        "1.8.0*07(011987.002*kWh)",
        "1.8.0*06(011520.441*kWh)",
        "1.8.1*07(007990.310*kWh)",
        "1.8.2*07(003996.692*kWh)",
        "2.8.0(000012.004*kWh)",
        "2.8.0*07(000011.870*kWh)",
        "3.8.0(000321.500*kvarh)",
        "4.8.0(000045.250*kvarh)",
        "15.8.0(012357.682*kWh)",
        "1.6.0(02.468*kW)(2506101415)",
        "1.6.0*07(02.911*kW)(2505231830)",
        "1.6.0*06(03.105*kW)(2504171045)",
        "32.7.0(230.1*V)",
        "52.7.0(229.8*V)",
        "72.7.0(231.0*V)",
        "31.7.0(001.52*A)",
        "51.7.0(000.98*A)",
        "71.7.0(002.10*A)",
        "14.7.0(50.00*Hz)",
        "13.7.0(0.98)",
        "C.1.0(12345678)",
        "C.1.1(VS3P-40)",
        "C.5.0(L1-L2-L3)",
        "C.7.0(0003)",
        "C.7.1(0001)",
        "C.7.2(0001)",
        "C.7.3(0001)",
        "C.2.1(2504011200)",
        "F.F(00000000)",
    };
}

bool LoadDataFile(const std::string& path, MeterConfig& config, bool keepIdentification, std::string& error)
{
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        error = path + ": is a directory";
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (file.bad()) {
        error = path + ": read error";
        return false;
    }
    if (EndsWith(Lower(path), ".bin"))
        TakeRaw(bytes, config, keepIdentification);
    else
        TakeLines(bytes, config, keepIdentification);
    return true;
}

} // namespace varnel::sim
