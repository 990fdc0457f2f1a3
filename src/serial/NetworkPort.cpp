#include "serial/NetworkPort.h"

#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace varnel {

namespace {

using SteadyClock = std::chrono::steady_clock;

bool OddOnes(std::uint8_t b)
{
    b ^= static_cast<std::uint8_t>(b >> 4);
    b ^= static_cast<std::uint8_t>(b >> 2);
    b ^= static_cast<std::uint8_t>(b >> 1);
    return (b & 1) != 0;
}

// A 7-bit character with the bit 7 that makes its parity even.
std::uint8_t WithEvenParity(std::uint8_t c)
{
    c &= 0x7F;
    return OddOnes(c) ? static_cast<std::uint8_t>(c | 0x80) : c;
}

std::string Reason(QAbstractSocket::SocketError error, const QString& text)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError: return "connection refused";
    case QAbstractSocket::HostNotFoundError: return "name not found";
    case QAbstractSocket::NetworkError: return "no route (" + text.toStdString() + ")";
    default: return text.toStdString();
    }
}

constexpr const char* kUseTcp = " (for a raw TCP port use tcp://)";

// What the socket takes in ahead of the readout: a peer that sends faster than the
// readout reads is held back by TCP itself instead of filling memory.
constexpr qint64 kReadBufferBytes = 64 * 1024;

} // namespace

NetworkPort::NetworkPort() = default;

NetworkPort::~NetworkPort()
{
    Close();
}

bool NetworkPort::Open(const std::string& device, const LineSettings& settings, bool forLineTest)
{
    Close();
    m_lastError.clear();
    std::string error;
    const auto address = ParseNetworkAddress(device, error);
    if (!address)
        return Fail(error);
    m_address = *address;
    m_settings = settings;
    m_dropData = forLineTest;
    m_session = rfc2217::Session{};
    m_parityErrors = 0;
    m_lost = false;
    m_breakOn = false;

    const auto deadline = SteadyClock::now() + kConnectTimeout;
    const std::string inTime = " within " + std::to_string(kConnectTimeout.count()) + " s";
    m_socket = std::make_unique<QTcpSocket>();
    m_socket->setReadBufferSize(kReadBufferBytes);
    m_socket->connectToHost(QString::fromStdString(m_address.host), m_address.port);
    if (!WaitUntil([this] { return m_socket->state() == QAbstractSocket::ConnectedState; }, deadline))
        return Fail(m_socket->state() == QAbstractSocket::UnconnectedState
                        ? Reason(m_socket->error(), m_socket->errorString())
                        : "no connection" + inTime);
    // Each byte of a paced message goes out on its own, as on a serial line.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // A zero wait that finds nothing reports a time-out: the connection is not lost by that.
    QObject::connect(m_socket.get(), &QAbstractSocket::errorOccurred, m_socket.get(),
                     [this](QAbstractSocket::SocketError e) {
                         if (e != QAbstractSocket::SocketTimeoutError && e != QAbstractSocket::TemporaryError)
                             OnLost();
                     });
    QObject::connect(m_socket.get(), &QAbstractSocket::disconnected, m_socket.get(), [this] { OnLost(); });
    if (!IsRfc2217())
        return true;

    using namespace rfc2217;
    Send(m_session.Start());
    const bool answered = WaitUntil(
        [this] {
            Pump();
            return m_session.ComPort() != Session::Agreement::Pending;
        },
        deadline);
    if (m_lost)
        return Fail(m_lastError);
    if (!answered)
        return Fail("no answer to the RFC 2217 negotiation" + inTime + kUseTcp);
    if (m_session.ComPort() == Session::Agreement::Refused)
        return Fail(std::string("the server refuses RFC 2217 port control") + kUseTcp);
    Control(CONTROL_NO_FLOW);
    Apply(settings);
    Send(ComPortCommand(SET_LINESTATE_MASK, kBreakDetect));
    return !m_lost || Fail(m_lastError);
}

bool NetworkPort::Fail(const std::string& reason)
{
    Close();
    m_lastError = reason;
    return false;
}

void NetworkPort::Close()
{
    if (!m_socket)
        return;
    const bool connected = Connected();
    // Our own end of the connection is no loss.
    QObject::disconnect(m_socket.get(), nullptr, nullptr, nullptr);
    if (connected) {
        // A port we let go of is never left holding a break.
        if (m_breakOn)
            Control(rfc2217::CONTROL_BREAK_OFF);
        m_socket->flush();
        m_socket->disconnectFromHost();
    }
    m_socket->abort();
    m_socket.reset();
    m_rx.clear();
}

bool NetworkPort::Connected() const
{
    return m_socket && !m_lost && m_socket->state() == QAbstractSocket::ConnectedState;
}

bool NetworkPort::SoftParity() const
{
    return m_address.softParity && m_settings.byteSize == 7 && m_settings.parity == Parity::Even;
}

bool NetworkPort::WaitUntil(const std::function<bool()>& done, SteadyClock::time_point deadline)
{
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(m_socket.get(), &QAbstractSocket::stateChanged, &loop, &QEventLoop::quit);
    QObject::connect(m_socket.get(), &QIODevice::readyRead, &loop, &QEventLoop::quit);
    while (!done()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (m_socket->state() == QAbstractSocket::UnconnectedState || left.count() <= 0)
            return false;
        timer.start(left);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return true;
}

bool NetworkPort::Apply(const LineSettings& settings)
{
    if (!m_socket)
        return false;
    m_settings = settings;
    // A raw link carries no settings: the converter's stay as they are.
    if (!IsRfc2217())
        return Connected();
    using namespace rfc2217;
    // With soft parity the server's line carries 8 bits and the parity is ours.
    const bool soft = SoftParity();
    // Indexed by Parity and StopBits.
    static constexpr std::uint8_t kParity[] = {PARITY_NONE, 2, PARITY_EVEN, 4, 5};
    static constexpr std::uint8_t kStopSize[] = {STOPSIZE_1, 3, 2};
    std::string commands =
        ComPortCommand(SET_BAUDRATE, BaudRateValue(static_cast<std::uint32_t>(settings.baudRate)))
        + ComPortCommand(SET_DATASIZE, soft ? std::uint8_t{8} : settings.byteSize)
        + ComPortCommand(SET_PARITY, soft ? kParity[0] : kParity[static_cast<int>(settings.parity) % 5])
        + ComPortCommand(SET_STOPSIZE, kStopSize[static_cast<int>(settings.stopBits) % 3]);
    if (settings.rtsControl != LineControl::Handshake)
        commands += ComPortCommand(SET_CONTROL, settings.rtsControl == LineControl::Enable ? CONTROL_RTS_ON
                                                                                           : CONTROL_RTS_OFF);
    commands += ComPortCommand(SET_CONTROL, settings.dtrControl == LineControl::Disable ? CONTROL_DTR_OFF
                                                                                        : CONTROL_DTR_ON);
    return Send(commands);
}

std::size_t NetworkPort::Write(const std::uint8_t* data, std::size_t count)
{
    if (!Connected() || count == 0)
        return 0;
    std::string bytes(reinterpret_cast<const char*>(data), count);
    if (SoftParity())
        for (char& c : bytes)
            c = static_cast<char>(WithEvenParity(static_cast<std::uint8_t>(c)));
    if (IsRfc2217())
        bytes = rfc2217::Escape(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return Send(bytes) ? count : 0;
}

bool NetworkPort::Send(const std::string& bytes)
{
    if (!Connected())
        return false;
    if (m_socket->write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()))
        return false;
    // The readout sleeps between paced bytes with no event loop running: each
    // goes to the system now, not at the next turn of the loop.
    m_socket->flush();
    return Connected();
}

bool NetworkPort::Control(std::uint8_t value)
{
    return IsRfc2217() && Send(rfc2217::ComPortCommand(rfc2217::SET_CONTROL, value));
}

std::size_t NetworkPort::Read(std::uint8_t* data, std::size_t max)
{
    if (m_rx.size() < max)
        Pump();
    const std::size_t n = std::min(max, m_rx.size());
    std::copy_n(m_rx.data(), n, data);
    m_rx.erase(0, n);
    return n;
}

void NetworkPort::Pump()
{
    if (!m_socket)
        return;
    // Without a running event loop nothing moves bytes from the system into the
    // socket's buffer; a zero wait does that without blocking.
    if (Connected() && m_socket->bytesAvailable() == 0)
        m_socket->waitForReadyRead(0);
    const QByteArray raw = m_socket->readAll();
    if (raw.isEmpty())
        return;
    std::string data;
    std::string reply;
    if (IsRfc2217())
        m_session.Receive(reinterpret_cast<const std::uint8_t*>(raw.constData()),
                          static_cast<std::size_t>(raw.size()), data, reply);
    else
        data.assign(raw.constData(), static_cast<std::size_t>(raw.size()));
    if (!reply.empty())
        Send(reply);
    if (SoftParity())
        for (char& c : data) {
            m_parityErrors += OddOnes(static_cast<std::uint8_t>(c)) ? 1 : 0;
            c = static_cast<char>(c & 0x7F);
        }
    if (!m_dropData)
        m_rx += data;
}

bool NetworkPort::Purge()
{
    Pump();
    m_rx.clear();
    if (!IsRfc2217())
        return Connected();
    return Send(rfc2217::ComPortCommand(rfc2217::PURGE_DATA, rfc2217::PURGE_BOTH));
}

bool NetworkPort::SetBreak(bool on)
{
    m_breakOn = on;
    return Control(on ? rfc2217::CONTROL_BREAK_ON : rfc2217::CONTROL_BREAK_OFF);
}

bool NetworkPort::SetRts(bool on)
{
    return Control(on ? rfc2217::CONTROL_RTS_ON : rfc2217::CONTROL_RTS_OFF);
}

bool NetworkPort::SetDtr(bool on)
{
    return Control(on ? rfc2217::CONTROL_DTR_ON : rfc2217::CONTROL_DTR_OFF);
}

BreakSeen NetworkPort::TakeBreakSeen()
{
    if (!IsRfc2217())
        return BreakSeen::Unsupported;
    // A connection that dropped is a failed query, not a port unable to report.
    if (!Connected())
        return BreakSeen::No;
    Pump();
    if (!m_session.ReportsLineState())
        return BreakSeen::Unsupported;
    return m_session.TakeBreak() ? BreakSeen::Yes : BreakSeen::No;
}

bool NetworkPort::RateReachesLine() const
{
    return IsRfc2217();
}

std::optional<std::uint32_t> NetworkPort::ParityErrors() const
{
    return SoftParity() ? std::optional<std::uint32_t>(m_parityErrors) : std::nullopt;
}

void NetworkPort::OnLost()
{
    if (m_lost)
        return;
    m_lost = true;
    m_lastError = "connection lost: " + m_socket->errorString().toStdString();
    // What arrived before the end is the meter's, and stays readable.
    Pump();
}

} // namespace varnel
