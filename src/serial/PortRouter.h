#pragma once

#include "serial/NetworkAddress.h"
#include "serial/Port.h"

namespace varnel {

// The one place that tells the kinds of port apart: a device named tcp://... or
// rfc2217://... opens on the network port, any other on the serial one. Every
// later call goes to the port the last Open chose.
class PortRouter final : public Port {
public:
    PortRouter(Port& serial, Port& network) : m_serial(serial), m_network(network) {}

    bool Open(const std::string& device, const LineSettings& settings, bool forLineTest) override
    {
        Close();
        m_active = IsNetworkPortName(device) ? &m_network : &m_serial;
        return m_active->Open(device, settings, forLineTest);
    }
    void Close() override
    {
        if (m_active)
            m_active->Close();
    }
    bool Apply(const LineSettings& settings) override { return m_active && m_active->Apply(settings); }
    std::size_t Write(const std::uint8_t* data, std::size_t count) override
    {
        return m_active ? m_active->Write(data, count) : 0;
    }
    std::size_t Read(std::uint8_t* data, std::size_t max) override
    {
        return m_active ? m_active->Read(data, max) : 0;
    }
    bool Purge() override { return m_active && m_active->Purge(); }
    bool SetBreak(bool on) override { return m_active && m_active->SetBreak(on); }
    bool SetRts(bool on) override { return m_active && m_active->SetRts(on); }
    bool SetDtr(bool on) override { return m_active && m_active->SetDtr(on); }
    BreakSeen TakeBreakSeen() override { return m_active ? m_active->TakeBreakSeen() : BreakSeen::No; }
    std::string LastError() const override { return m_active ? m_active->LastError() : std::string(); }
    bool RateReachesLine() const override { return !m_active || m_active->RateReachesLine(); }
    std::optional<std::uint32_t> ParityErrors() const override
    {
        return m_active ? m_active->ParityErrors() : std::nullopt;
    }

    // Whether the last Open went to the network port.
    bool OpenedNetwork() const { return m_active == &m_network; }

private:
    Port& m_serial;
    Port& m_network;
    Port* m_active = nullptr;
};

} // namespace varnel
