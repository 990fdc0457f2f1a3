#pragma once

#include <optional>
#include <string>

namespace varnel {

// The unit of a data line such as 1.8.0(012.5*kWh): the text between the '*'
// that ends its value and the ')' after it. Nothing when the value ends at
// ')', when no ')' closes the unit, or when the line has no code.
std::optional<std::string> DataLineUnit(const std::string& line);

// A value that is a decimal number (optional sign, digits, and optionally one
// '.' or ',' with digits after it) as JSON number text with every digit the
// meter sent: "+003699,650" gives "3699.650". Nothing for anything else
// (time stamps, serial numbers with letters, blanks, "12.", ".5").
std::optional<std::string> DecimalNumber(const std::string& value);

// The CSV that varnel-read prints and the window saves: RFC 4180, CR LF, one
// record per row; the unit of a data row last.
inline constexpr const char* kCsvHeader = "Data,Code (OBIS),Value,Unit\r\n";
std::string CsvField(const std::string& field);
std::string CsvRecord(const std::string& data, const std::string& code, const std::string& value);

} // namespace varnel
