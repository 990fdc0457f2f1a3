#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace varnel::sim {

// Time since an arbitrary origin. Nanoseconds, because at 19200 Bd a byte
// lasts about half a millisecond and pacing must not round that away.
using SimTime = std::chrono::nanoseconds;

constexpr std::chrono::milliseconds kDefaultReaction{200};
constexpr std::chrono::milliseconds kAckWait{1500};
constexpr std::chrono::milliseconds kBreakReplyWait{1500};
constexpr std::chrono::seconds kStallPause{4};
constexpr std::chrono::seconds kUnsolicitedDelay{1};
constexpr std::size_t kMaxAddressLength = 32;
constexpr std::size_t kLongLineLength = 1500;

enum class Fault {
    Silent,
    NoSlash,
    GarbageBefore,
    BadBcc,
    LongLine,
    Stall,
    Hangup,
    Break,
    Password,
    LfOnly,
    Unsolicited,
    BadCrc,
};

const char* FaultName(Fault fault);
std::optional<Fault> FaultFromName(const std::string& name);
// All fault names, for usage texts.
std::string FaultNames();

struct MeterConfig {
    std::string identification = "/VAR5\\2VARNEL-SIM";
    std::chrono::milliseconds reaction = kDefaultReaction;
    int initialBaud = 300;
    bool pace = true;
    // Data lines of the block, without line ends.
    std::vector<std::string> lines;
    // A raw capture sent byte for byte in place of the block; overrides `lines`.
    std::optional<std::string> raw;
    // Bytes sent just before the identification (a capture's noise or probe echo).
    std::string preamble;
    std::string identificationEnd = "\r\n";
    std::vector<Fault> faults;
    // The meter's own address; a request with any other address goes unanswered.
    std::optional<std::string> address;

    bool Has(Fault fault) const;
};

// What the meter saw and did during one readout, for tests and --report.
struct ReadoutReport {
    std::string request;
    std::string address;
    int signOnBaud = 0;          // the reader's line rate when the request arrived; 0 unknown
    std::string identification;  // as sent, without its line end
    char mode = '?';             // 'A', 'B' or 'C'
    int offeredBaud = 0;         // the rate the identification offers
    std::string acknowledgement; // as received; empty when none came
    int dataBaud = 0;            // the meter's rate for the data block
    int readerBaudAtData = 0;    // the reader's line rate when the block began; 0 unknown
    std::string breakReply;      // "", "received" or "missing"
    std::string outcome;         // "complete", "silent", "password", "hangup", "interrupted"
    std::vector<std::string> faults;
    std::vector<std::string> anomalies;
    std::string sent; // every byte sent during this readout

    std::string ToJson() const;
};

int ModeBRate(char z);
int ModeCRate(char z);

// What a transport (pseudo-terminal, socket) serves: bytes and time in, bytes
// out. It never reads a clock; the caller passes the time and the line rate
// the reader has set, or 0 where the transport carries no line settings.
class MeterSide {
public:
    virtual ~MeterSide() = default;

    virtual void Receive(const std::uint8_t* data, std::size_t count, SimTime now, int lineBaud) = 0;
    // Bytes whose transmission has ended by `now`.
    virtual std::string TakeOutput(SimTime now, int lineBaud) = 0;
    // When TakeOutput next has something to do; nullopt while only input can
    // move the meter on.
    virtual std::optional<SimTime> NextDue() const = 0;
    // True once when the meter wants the device closed.
    virtual bool TakeHangup() = 0;
    virtual std::vector<ReadoutReport> TakeReports() = 0;
    // Ends a readout in progress (the meter is being switched off).
    virtual void Abort(const std::string& outcome) = 0;
};

// The meter side of IEC 62056-21 readout mode as a pure state machine. On a
// pseudo-terminal both ends share one rate, so the meter cannot impose its
// own; it only checks the reader's.
class MeterProtocol final : public MeterSide {
public:
    explicit MeterProtocol(MeterConfig config);

    void Receive(const std::uint8_t* data, std::size_t count, SimTime now, int lineBaud) override;
    std::string TakeOutput(SimTime now, int lineBaud) override;
    std::optional<SimTime> NextDue() const override;
    bool TakeHangup() override;
    std::vector<ReadoutReport> TakeReports() override;
    void Abort(const std::string& outcome) override;
    bool InReadout() const { return m_report.has_value(); }

    // One character on the line: start bit, 7 data bits, parity, stop bit.
    static SimTime ByteTime(int baud);

private:
    enum class Phase { Listening, Sending, AwaitAck, AwaitBreakReply };
    enum class StepKind { Bytes, Pause, AwaitAck, BlockStart, AwaitBreakReply, Hangup, Finish };
    struct Step {
        Step(StepKind k, std::string b = {}, SimTime p = {}, std::string o = {})
            : kind(k),
              bytes(std::move(b)),
              pause(p),
              outcome(std::move(o))
        {
        }
        StepKind kind;
        std::string bytes;
        SimTime pause;
        std::string outcome;
        std::size_t done = 0; // bytes of `bytes` already sent
    };

    void OnRequestByte(std::uint8_t b, SimTime now, int lineBaud);
    void StartReadout(SimTime now, int lineBaud);
    void OnAckByte(std::uint8_t b, SimTime now);
    void OnBreakByte(std::uint8_t b, SimTime now);
    void QueueAfterIdentification(bool programming);
    void Finish(const std::string& outcome);
    void Anomaly(std::string text);

    MeterConfig m_config;
    Phase m_phase = Phase::Listening;
    std::deque<Step> m_steps;
    SimTime m_cursor{};       // end of the last byte sent or pause taken
    SimTime m_waitDeadline{}; // for AwaitAck and AwaitBreakReply
    int m_meterBaud = 300;
    int m_lastBaud = 300; // the reader's rate as last seen, for NextDue
    bool m_hangup = false;

    std::string m_requestBuf;
    std::string m_ackBuf;
    std::string m_breakBuf;
    std::optional<ReadoutReport> m_report;
    std::vector<ReadoutReport> m_done;
};

} // namespace varnel::sim
