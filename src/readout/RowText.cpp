#include "readout/RowText.h"

namespace varnel {

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

std::optional<std::string> DataLineUnit(const std::string& line)
{
    // The value's own rule (ResultLog::ParseDataLine): it ends at the first '*' or ')' after the '('.
    const auto open = line.find('(');
    if (open == std::string::npos || open == 0)
        return std::nullopt;
    const auto star = line.find_first_of("*)", open + 1);
    if (star == std::string::npos || line[star] != '*')
        return std::nullopt;
    const auto close = line.find(')', star + 1);
    if (close == std::string::npos)
        return std::nullopt;
    return line.substr(star + 1, close - star - 1);
}

std::optional<std::string> DecimalNumber(const std::string& value)
{
    std::size_t i = value.empty() || (value[0] != '+' && value[0] != '-') ? 0 : 1;
    const std::size_t intStart = i;
    while (i < value.size() && IsDigit(value[i]))
        ++i;
    const std::size_t intEnd = i;
    if (intEnd == intStart)
        return std::nullopt;
    if (i < value.size() && (value[i] == '.' || value[i] == ',')) {
        const std::size_t fracStart = ++i;
        while (i < value.size() && IsDigit(value[i]))
            ++i;
        if (i == fracStart)
            return std::nullopt;
    }
    if (i != value.size())
        return std::nullopt;
    // JSON allows neither a '+' nor leading zeros; the zeros say nothing of the number.
    std::size_t first = intStart;
    while (first + 1 < intEnd && value[first] == '0')
        ++first;
    std::string number = value[0] == '-' ? "-" : "";
    number += value.substr(first);
    if (const auto comma = number.find(','); comma != std::string::npos)
        number[comma] = '.';
    return number;
}

std::string CsvField(const std::string& field)
{
    if (field.find_first_of(",\"\r\n") == std::string::npos)
        return field;
    std::string quoted = "\"";
    for (char c : field) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

std::string CsvRecord(const std::string& data, const std::string& code, const std::string& value)
{
    // Only a data row has a code; an event row's text is not a data line.
    const std::string unit = code.empty() ? std::string() : DataLineUnit(data).value_or("");
    return CsvField(data) + ',' + CsvField(code) + ',' + CsvField(value) + ',' + CsvField(unit) + "\r\n";
}

} // namespace varnel
