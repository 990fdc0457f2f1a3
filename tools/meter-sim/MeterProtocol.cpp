#include "MeterProtocol.h"

#include "readout/BlockCheck.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

namespace varnel::sim {

namespace {

constexpr char SOH = 0x01;
constexpr char STX = 0x02;
constexpr char ETX = 0x03;
constexpr char ACK = 0x06;

// Line noise: a bit pattern, a dropped-carrier NUL and a byte with the parity bit set.
constexpr char kGarbage[] = {'\x7F', '\x00', '\xFF'};
constexpr const char* kSerial = "12345678";

struct FaultEntry {
    Fault fault;
    const char* name;
};
constexpr std::array<FaultEntry, 12> kFaults{{
    {Fault::Silent, "silent"},
    {Fault::NoSlash, "no-slash"},
    {Fault::GarbageBefore, "garbage-before"},
    {Fault::BadBcc, "bad-bcc"},
    {Fault::LongLine, "long-line"},
    {Fault::Stall, "stall"},
    {Fault::Hangup, "hangup"},
    {Fault::Break, "break"},
    {Fault::Password, "password"},
    {Fault::LfOnly, "lf-only"},
    {Fault::Unsolicited, "unsolicited"},
    {Fault::BadCrc, "bad-crc"},
}};

// Bytes from `first` up to and including ETX get the check character; a 7E1
// line carries only the low seven bits of it.
char CheckOf(const std::string& frame, std::size_t first)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(frame.data()) + first;
    return static_cast<char>(BlockCheck(bytes, frame.size() - first) & 0x7F);
}

// A command frame: SOH, command id and type, optional STX and data, ETX, check.
std::string CommandFrame(const std::string& body)
{
    std::string frame = std::string(1, SOH) + body + ETX;
    return frame + CheckOf(frame, 1);
}

struct Block {
    std::string bytes;
    std::size_t middle = 0; // where a stall or hang-up cuts in
};

Block BuildBlock(const std::vector<std::string>& lines, const MeterConfig& config)
{
    const std::string eol = config.Has(Fault::LfOnly) ? "\n" : "\r\n";
    std::vector<std::string> pieces;
    if (config.Has(Fault::LongLine)) {
        std::string longLine;
        for (std::size_t i = 0; i < kLongLineLength; ++i)
            longLine += static_cast<char>('0' + i % 10);
        pieces.push_back(longLine);
    }
    for (const auto& line : lines)
        pieces.push_back(line + eol);
    // A capture whose last line carries the end mark (e.g. "6.31(..)!") closes the block itself.
    if (lines.empty() || lines.back().empty() || lines.back().back() != '!')
        pieces.push_back("!" + eol);

    Block block;
    block.bytes = std::string(1, STX);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i == pieces.size() / 2)
            block.middle = block.bytes.size();
        block.bytes += pieces[i];
    }
    block.bytes += ETX;
    char bcc = CheckOf(block.bytes, 1);
    if (config.Has(Fault::BadBcc))
        bcc ^= 0x01;
    block.bytes += bcc;
    return block;
}

void AppendJsonString(std::string& out, const std::string& text)
{
    out += '"';
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u >= 0x7F) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04X", u);
            out += esc;
        } else {
            out += c;
        }
    }
    out += '"';
}

void AppendJsonList(std::string& out, const std::vector<std::string>& items)
{
    out += '[';
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            out += ',';
        AppendJsonString(out, items[i]);
    }
    out += ']';
}

} // namespace

const char* FaultName(Fault fault)
{
    for (const auto& entry : kFaults)
        if (entry.fault == fault)
            return entry.name;
    return "?";
}

std::optional<Fault> FaultFromName(const std::string& name)
{
    for (const auto& entry : kFaults)
        if (name == entry.name)
            return entry.fault;
    return std::nullopt;
}

std::string FaultNames()
{
    std::string names;
    for (const auto& entry : kFaults) {
        if (!names.empty())
            names += ", ";
        names += entry.name;
    }
    return names;
}

bool MeterConfig::Has(Fault fault) const
{
    return std::find(faults.begin(), faults.end(), fault) != faults.end();
}

int ModeBRate(char z)
{
    static constexpr std::array<int, 6> kRates{600, 1200, 2400, 4800, 9600, 19200};
    return (z >= 'A' && z <= 'F') ? kRates[static_cast<std::size_t>(z - 'A')] : 300;
}

int ModeCRate(char z)
{
    static constexpr std::array<int, 7> kRates{300, 600, 1200, 2400, 4800, 9600, 19200};
    return (z >= '0' && z <= '6') ? kRates[static_cast<std::size_t>(z - '0')] : 300;
}

std::string ReadoutReport::ToJson() const
{
    std::string out = "{\"request\":";
    AppendJsonString(out, request);
    out += ",\"address\":";
    AppendJsonString(out, address);
    out += ",\"signOnBaud\":" + std::to_string(signOnBaud);
    out += ",\"identification\":";
    AppendJsonString(out, identification);
    out += ",\"mode\":";
    AppendJsonString(out, std::string(1, mode));
    out += ",\"offeredBaud\":" + std::to_string(offeredBaud);
    out += ",\"acknowledgement\":";
    AppendJsonString(out, acknowledgement);
    out += ",\"dataBaud\":" + std::to_string(dataBaud);
    out += ",\"readerBaudAtData\":" + std::to_string(readerBaudAtData);
    out += ",\"bytesSent\":" + std::to_string(sent.size());
    out += ",\"breakReply\":";
    AppendJsonString(out, breakReply);
    out += ",\"outcome\":";
    AppendJsonString(out, outcome);
    out += ",\"faults\":";
    AppendJsonList(out, faults);
    out += ",\"anomalies\":";
    AppendJsonList(out, anomalies);
    out += '}';
    return out;
}

MeterProtocol::MeterProtocol(MeterConfig config) : m_config(std::move(config))
{
    m_meterBaud = m_config.initialBaud;
}

SimTime MeterProtocol::ByteTime(int baud)
{
    return SimTime{10'000'000'000LL / std::max(baud, 1)};
}

void MeterProtocol::Receive(const std::uint8_t* data, std::size_t count, SimTime now, int lineBaud)
{
    for (std::size_t i = 0; i < count; ++i) {
        // The reader talks 7E1; a pseudo-terminal passes whatever parity bit it computed.
        const auto b = static_cast<std::uint8_t>(data[i] & 0x7F);
        if (m_phase == Phase::AwaitAck)
            OnAckByte(b, now);
        else if (m_phase == Phase::AwaitBreakReply)
            OnBreakByte(b, now);
        OnRequestByte(b, now, lineBaud);
    }
}

void MeterProtocol::OnRequestByte(std::uint8_t b, SimTime now, int lineBaud)
{
    const char c = static_cast<char>(b);
    std::string& buf = m_requestBuf;
    const auto restart = [&] { buf = (c == '/') ? "/" : ""; };
    if (buf.empty() || buf.size() == 1) {
        if (buf.empty() || c != '?')
            restart();
        else
            buf += c;
        return;
    }
    switch (buf.back()) {
    case '\r':
        if (c == '\n') {
            buf += c;
            // A request without an address is for whoever is on the line.
            const std::string address = buf.substr(2, buf.size() - 5);
            if (!m_config.address || address.empty() || address == *m_config.address)
                StartReadout(now, lineBaud);
            buf.clear();
        } else {
            restart();
        }
        return;
    case '!':
        if (c == '\r')
            buf += c;
        else
            restart();
        return;
    default: break;
    }
    const std::size_t addressLength = buf.size() - 2;
    if (c == '!')
        buf += c;
    else if (addressLength < kMaxAddressLength && c >= 0x20 && c < 0x7F && c != '/')
        buf += c;
    else
        restart();
}

void MeterProtocol::StartReadout(SimTime now, int lineBaud)
{
    if (m_report) {
        Anomaly("a new request came before the readout ended");
        m_steps.clear();
        Finish("interrupted");
    }
    m_report = ReadoutReport{};
    ReadoutReport& report = *m_report;
    report.request = m_requestBuf;
    report.address = m_requestBuf.substr(2, m_requestBuf.size() - 5);
    report.signOnBaud = lineBaud;
    for (const Fault fault : m_config.faults)
        report.faults.push_back(FaultName(fault));
    // A transport without line settings (0) cannot tell the reader's rate.
    if (lineBaud > 0 && lineBaud != m_config.initialBaud)
        Anomaly("sign-on at " + std::to_string(lineBaud) + " Bd; the meter listens at "
                + std::to_string(m_config.initialBaud) + " Bd");

    m_meterBaud = m_config.initialBaud;
    m_cursor = now;
    m_ackBuf.clear();
    m_breakBuf.clear();
    m_phase = Phase::Sending;
    if (m_config.Has(Fault::Silent)) {
        Finish("silent");
        return;
    }

    m_steps.emplace_back(StepKind::Pause, std::string{}, m_config.reaction);
    if (m_config.Has(Fault::GarbageBefore))
        m_steps.emplace_back(StepKind::Bytes, std::string(kGarbage, sizeof kGarbage));
    if (!m_config.preamble.empty())
        m_steps.emplace_back(StepKind::Bytes, m_config.preamble);

    const std::string& ident = m_config.identification;
    report.identification = ident;
    if (m_config.Has(Fault::NoSlash) && !ident.empty() && ident[0] == '/')
        report.identification.erase(0, 1);
    const std::string eol = m_config.Has(Fault::LfOnly) ? "\n" : m_config.identificationEnd;
    m_steps.emplace_back(StepKind::Bytes, report.identification + eol);

    const char z = ident.size() > 4 ? ident[4] : '\0';
    if (z >= '0' && z <= '9') {
        report.mode = 'C';
        report.offeredBaud = ModeCRate(z);
        m_steps.emplace_back(StepKind::AwaitAck);
        return;
    }
    if (z >= 'A' && z <= 'I') {
        report.mode = 'B';
        report.offeredBaud = ModeBRate(z);
        m_meterBaud = report.offeredBaud;
    } else {
        report.mode = 'A';
        report.offeredBaud = m_config.initialBaud;
    }
    QueueAfterIdentification(false);
}

void MeterProtocol::OnAckByte(std::uint8_t b, SimTime now)
{
    if (m_ackBuf.empty() && b != ACK)
        return;
    m_ackBuf += static_cast<char>(b);
    if (m_ackBuf.size() < 6 && b != '\n')
        return;
    const std::string ack = std::exchange(m_ackBuf, {});
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (ack.size() != 6 || !digit(ack[1]) || !digit(ack[2]) || !digit(ack[3]) || ack[4] != '\r'
        || ack[5] != '\n') {
        std::string shown;
        AppendJsonString(shown, ack);
        Anomaly("malformed acknowledgement " + shown);
        return;
    }
    m_report->acknowledgement = ack;
    const char z = ack[2];
    const char y = ack[3];
    m_meterBaud = ModeCRate(z);
    if (m_meterBaud > m_report->offeredBaud)
        Anomaly("acknowledgement asks for " + std::to_string(m_meterBaud) + " Bd; "
                + std::to_string(m_report->offeredBaud) + " Bd offered");
    if (y != '0' && y != '1')
        Anomaly(std::string("mode control '") + y + "' is not supported; data readout served");
    m_phase = Phase::Sending;
    m_cursor = std::max(m_cursor, now);
    QueueAfterIdentification(y == '1');
}

void MeterProtocol::OnBreakByte(std::uint8_t b, SimTime now)
{
    if (m_breakBuf.empty() && b != SOH)
        return;
    m_breakBuf += static_cast<char>(b);
    const std::string expected = CommandFrame("B0");
    if (m_breakBuf.size() < expected.size())
        return;
    if (m_breakBuf == expected) {
        m_report->breakReply = "received";
        m_phase = Phase::Sending;
        m_cursor = std::max(m_cursor, now);
    } else {
        std::string shown;
        AppendJsonString(shown, m_breakBuf);
        Anomaly("unexpected reply to the break message " + shown);
    }
    m_breakBuf.clear();
}

void MeterProtocol::QueueAfterIdentification(bool programming)
{
    m_steps.emplace_back(StepKind::Pause, std::string{}, m_config.reaction);
    if (programming || m_config.Has(Fault::Password)) {
        m_steps.emplace_back(StepKind::Bytes, CommandFrame(std::string("P0") + STX + "(" + kSerial + ")"));
        m_steps.emplace_back(StepKind::Finish, std::string{}, SimTime{}, "password");
        return;
    }
    m_steps.emplace_back(StepKind::BlockStart);
    Block block;
    if (m_config.raw) {
        block.bytes = *m_config.raw;
        block.middle = block.bytes.size() / 2;
    } else {
        block = BuildBlock(m_config.lines, m_config);
    }
    m_steps.emplace_back(StepKind::Bytes, block.bytes.substr(0, block.middle));
    if (m_config.Has(Fault::Hangup)) {
        m_steps.emplace_back(StepKind::Hangup);
        return;
    }
    if (m_config.Has(Fault::Stall))
        m_steps.emplace_back(StepKind::Pause, std::string{}, kStallPause);
    m_steps.emplace_back(StepKind::Bytes, block.bytes.substr(block.middle));
    if (m_config.Has(Fault::Break)) {
        m_steps.emplace_back(StepKind::Bytes, CommandFrame("B0"));
        m_steps.emplace_back(StepKind::AwaitBreakReply);
    }
    if (m_config.Has(Fault::Unsolicited)) {
        MeterConfig plain;
        plain.faults = m_config.Has(Fault::LfOnly) ? std::vector<Fault>{Fault::LfOnly} : std::vector<Fault>{};
        m_steps.emplace_back(StepKind::Pause, std::string{}, kUnsolicitedDelay);
        m_steps.emplace_back(StepKind::Bytes, BuildBlock({"F.F(00000000)"}, plain).bytes);
    }
    m_steps.emplace_back(StepKind::Finish, std::string{}, SimTime{}, "complete");
}

std::string MeterProtocol::TakeOutput(SimTime now, int lineBaud)
{
    std::string out;
    const int baud = lineBaud > 0 ? lineBaud : m_meterBaud;
    m_lastBaud = baud;
    for (;;) {
        if (m_phase == Phase::AwaitAck || m_phase == Phase::AwaitBreakReply) {
            if (now < m_waitDeadline)
                return out;
            m_cursor = m_waitDeadline;
            if (m_phase == Phase::AwaitAck) {
                // Like most meters: without an option select the data come at the initial rate.
                Anomaly("no acknowledgement within 1500 ms; data block at "
                        + std::to_string(m_config.initialBaud) + " Bd");
                m_phase = Phase::Sending;
                QueueAfterIdentification(false);
            } else {
                m_report->breakReply = "missing";
                Anomaly("no reply to the break message within 1500 ms");
                m_phase = Phase::Sending;
            }
            continue;
        }
        if (m_steps.empty())
            return out;
        Step& step = m_steps.front();
        switch (step.kind) {
        case StepKind::Bytes:
            while (step.done < step.bytes.size()) {
                const SimTime end = m_config.pace ? m_cursor + ByteTime(baud) : m_cursor;
                if (end > now)
                    return out;
                m_cursor = end;
                out += step.bytes[step.done];
                m_report->sent += step.bytes[step.done];
                ++step.done;
            }
            break;
        case StepKind::Pause:
            if (m_cursor + step.pause > now)
                return out;
            m_cursor += step.pause;
            break;
        case StepKind::AwaitAck:
            m_phase = Phase::AwaitAck;
            m_waitDeadline = m_cursor + kAckWait;
            break;
        case StepKind::AwaitBreakReply:
            m_phase = Phase::AwaitBreakReply;
            m_waitDeadline = m_cursor + kBreakReplyWait;
            break;
        case StepKind::BlockStart:
            m_report->dataBaud = m_meterBaud;
            m_report->readerBaudAtData = lineBaud;
            if (lineBaud > 0 && lineBaud != m_meterBaud)
                Anomaly("reader at " + std::to_string(lineBaud) + " Bd when the data block began; "
                        + std::to_string(m_meterBaud) + " Bd agreed");
            break;
        case StepKind::Hangup:
            m_hangup = true;
            m_steps.clear();
            Finish("hangup");
            return out;
        case StepKind::Finish: {
            const std::string outcome = step.outcome;
            m_steps.pop_front();
            Finish(outcome);
            continue;
        }
        }
        m_steps.pop_front();
    }
}

std::optional<SimTime> MeterProtocol::NextDue() const
{
    if (m_phase == Phase::AwaitAck || m_phase == Phase::AwaitBreakReply)
        return m_waitDeadline;
    if (m_steps.empty())
        return std::nullopt;
    const Step& step = m_steps.front();
    if (step.kind == StepKind::Pause)
        return m_cursor + step.pause;
    if (step.kind == StepKind::Bytes && m_config.pace)
        return m_cursor + ByteTime(m_lastBaud);
    return m_cursor;
}

bool MeterProtocol::TakeHangup()
{
    return std::exchange(m_hangup, false);
}

std::vector<ReadoutReport> MeterProtocol::TakeReports()
{
    return std::exchange(m_done, {});
}

void MeterProtocol::Abort(const std::string& outcome)
{
    m_steps.clear();
    Finish(outcome);
}

void MeterProtocol::Finish(const std::string& outcome)
{
    if (m_report) {
        m_report->outcome = outcome;
        m_done.push_back(std::move(*m_report));
        m_report.reset();
    }
    m_phase = Phase::Listening;
}

void MeterProtocol::Anomaly(std::string text)
{
    if (m_report)
        m_report->anomalies.push_back(std::move(text));
}

} // namespace varnel::sim
