#include "PushMeter.h"

#include "readout/BlockCheck.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace varnel::sim {

namespace {

constexpr char STX = 0x02;
constexpr char ETX = 0x03;

} // namespace

PushMeter::PushMeter(const MeterConfig& config, std::chrono::milliseconds period, bool stx, bool crc)
    : m_identification(config.identification),
      m_period(period),
      m_pace(config.pace),
      m_defaultBaud(config.initialBaud)
{
    std::string body = config.identification + "\r\n\r\n";
    if (config.raw) {
        body += *config.raw;
    } else {
        std::size_t first = !config.lines.empty() && config.lines.front().empty() ? 1 : 0;
        for (std::size_t i = first; i < config.lines.size(); ++i)
            body += config.lines[i] + "\r\n";
        if (config.lines.empty() || config.lines.back().empty() || config.lines.back()[0] != '!')
            body += "!\r\n";
        if (crc || config.Has(Fault::BadCrc)) {
            body.erase(body.rfind("\n!") + 2);
            std::uint16_t check = 0;
            for (const char c : body)
                check = Crc16Update(check, static_cast<std::uint8_t>(c));
            char end[8];
            std::snprintf(end, sizeof end, "%04X\r\n", config.Has(Fault::BadCrc) ? check ^ 1u : check);
            body += end;
        }
    }
    if (stx) {
        body += ETX;
        char bcc = 0;
        for (const char c : body)
            bcc = static_cast<char>(bcc ^ c);
        m_telegram = std::string(1, STX) + body + static_cast<char>(bcc & 0x7F);
    } else {
        m_telegram = body;
    }
}

SimTime PushMeter::ByteTime() const
{
    return m_pace ? MeterProtocol::ByteTime(m_lastBaud > 0 ? m_lastBaud : m_defaultBaud) : SimTime{};
}

std::string PushMeter::TakeOutput(SimTime now, int lineBaud)
{
    m_lastBaud = lineBaud;
    if (!m_started) {
        m_started = true;
        m_next = now;
    }
    std::string out;
    while (m_next <= now && !m_telegram.empty()) {
        out += m_telegram[m_pos++];
        m_next += ByteTime();
        if (m_pos == m_telegram.size()) {
            ReadoutReport report;
            report.identification = m_identification;
            report.mode = 'D';
            report.outcome = "complete";
            report.sent = m_telegram;
            m_done.push_back(report);
            m_pos = 0;
            m_next += m_period;
        }
    }
    return out;
}

std::optional<SimTime> PushMeter::NextDue() const
{
    return m_started ? m_next : SimTime{};
}

std::vector<ReadoutReport> PushMeter::TakeReports()
{
    return std::exchange(m_done, {});
}

void PushMeter::Abort(const std::string&) {}

CaptureLoad LoadCapture(const std::string& path, std::vector<CaptureRecord>& records, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return CaptureLoad::Unreadable;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const auto fail = [&](const std::string& why) {
            error = path + ":" + std::to_string(number) + ": " + why;
            return CaptureLoad::Damaged;
        };
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string time, direction, hex;
        fields >> time >> direction;
        char* end = nullptr;
        errno = 0;
        const unsigned long ms = std::strtoul(time.c_str(), &end, 10);
        // A capture counts 32-bit milliseconds; more would not even fit the meter's clock.
        if (time.empty() || *end != '\0' || errno != 0 || time[0] == '-' || ms > 0xFFFFFFFFul)
            return fail("'" + time + "' is not a time in milliseconds");
        if (direction != "<" && direction != ">")
            return fail("the direction is '" + direction + "', not < (received) or > (sent)");
        CaptureRecord record{std::chrono::milliseconds(ms), direction == ">", {}};
        if (!records.empty() && record.at < records.back().at)
            return fail("the time goes back");
        while (fields >> hex) {
            const long b = hex.size() == 2 ? std::strtol(hex.c_str(), &end, 16) : -1;
            if (b < 0 || *end != '\0')
                return fail("'" + hex + "' is not a byte in two hexadecimal digits");
            record.bytes += static_cast<char>(b);
        }
        if (record.bytes.empty())
            return fail("a record without bytes");
        records.push_back(std::move(record));
    }
    if (records.empty()) {
        error = path + ": no records";
        return CaptureLoad::Damaged;
    }
    return CaptureLoad::Ok;
}

ReplayMeter::ReplayMeter(std::vector<CaptureRecord> records) : m_records(std::move(records)) {}

void ReplayMeter::Receive(const std::uint8_t* data, std::size_t count, SimTime now, int)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (m_index >= m_records.size() || !m_records[m_index].fromReader)
            continue; // the meter is answering: what the reader sends is not awaited
        const std::string& expected = m_records[m_index].bytes;
        const char c = static_cast<char>(data[i]);
        if (c == expected[m_matched])
            ++m_matched;
        else
            m_matched = c == m_records[0].bytes[0] && m_index == 0 ? 1 : 0;
        if (m_matched == expected.size()) {
            m_anchorNow = now;
            m_anchorAt = m_records[m_index].at;
            m_started = true;
            m_matched = 0;
            ++m_index;
        }
    }
    Advance(now);
}

std::string ReplayMeter::TakeOutput(SimTime now, int)
{
    if (!m_started && m_index == 0 && !m_records.front().fromReader) {
        m_started = true;
        m_anchorNow = now;
        m_anchorAt = m_records.front().at;
    }
    std::string out;
    while (m_index < m_records.size() && !m_records[m_index].fromReader
           && m_anchorNow + (m_records[m_index].at - m_anchorAt) <= now) {
        out += m_records[m_index].bytes;
        ++m_index;
    }
    m_report.sent += out;
    Advance(now);
    return out;
}

void ReplayMeter::Advance(SimTime)
{
    if (m_index < m_records.size())
        return;
    m_report.outcome = "complete";
    m_done.push_back(std::exchange(m_report, {}));
    m_index = 0;
    m_started = false;
}

std::optional<SimTime> ReplayMeter::NextDue() const
{
    if (m_index >= m_records.size() || m_records[m_index].fromReader)
        return std::nullopt;
    if (!m_started)
        return SimTime{};
    return m_anchorNow + (m_records[m_index].at - m_anchorAt);
}

std::vector<ReadoutReport> ReplayMeter::TakeReports()
{
    return std::exchange(m_done, {});
}

void ReplayMeter::Abort(const std::string& outcome)
{
    // The next reader gets the capture from its start.
    m_index = m_matched = 0;
    m_started = false;
    if (m_report.sent.empty())
        return;
    m_report.outcome = outcome;
    m_done.push_back(std::exchange(m_report, {}));
}

} // namespace varnel::sim
