#pragma once

#include "MeterProtocol.h"

#include <memory>

namespace varnel::sim {

// 7E1 carried as 8-bit bytes, as behind a converter that passes 8 bits
// unchanged: the meter takes only bytes whose bit 7 makes their parity even,
// and sends each of its bytes with that bit set so.
class WireParity final : public MeterSide {
public:
    explicit WireParity(std::unique_ptr<MeterSide> meter) : m_meter(std::move(meter)) {}

    void Receive(const std::uint8_t* data, std::size_t count, SimTime now, int lineBaud) override;
    std::string TakeOutput(SimTime now, int lineBaud) override;
    std::optional<SimTime> NextDue() const override { return m_meter->NextDue(); }
    bool TakeHangup() override { return m_meter->TakeHangup(); }
    // A readout that ended with bytes refused has that as an anomaly.
    std::vector<ReadoutReport> TakeReports() override;
    void Abort(const std::string& outcome) override { m_meter->Abort(outcome); }

private:
    std::unique_ptr<MeterSide> m_meter;
    std::size_t m_refused = 0;
};

} // namespace varnel::sim
