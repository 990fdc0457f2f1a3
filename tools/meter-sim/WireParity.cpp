#include "WireParity.h"

#include <bitset>

namespace varnel::sim {

namespace {

bool EvenOnes(std::uint8_t b)
{
    return std::bitset<8>(b).count() % 2 == 0;
}

} // namespace

void WireParity::Receive(const std::uint8_t* data, std::size_t count, SimTime now, int lineBaud)
{
    std::string taken;
    for (std::size_t i = 0; i < count; ++i) {
        if (EvenOnes(data[i]))
            taken += static_cast<char>(data[i] & 0x7F);
        else
            ++m_refused;
    }
    m_meter->Receive(reinterpret_cast<const std::uint8_t*>(taken.data()), taken.size(), now, lineBaud);
}

std::string WireParity::TakeOutput(SimTime now, int lineBaud)
{
    std::string out = m_meter->TakeOutput(now, lineBaud);
    for (char& c : out) {
        const auto low = static_cast<std::uint8_t>(c & 0x7F);
        c = static_cast<char>(EvenOnes(low) ? low : low | 0x80);
    }
    return out;
}

std::vector<ReadoutReport> WireParity::TakeReports()
{
    auto reports = m_meter->TakeReports();
    if (!reports.empty() && m_refused > 0) {
        reports.front().anomalies.push_back(std::to_string(m_refused) + " bytes with odd parity refused");
        m_refused = 0;
    }
    return reports;
}

} // namespace varnel::sim
