#include "serial/QtSerialPortBackend.h"

#include "serial/DeviceLock.h"

#include <QFileInfo>

#include <algorithm>
#include <chrono>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef __linux__
#include <linux/serial.h>
#include <sys/sysmacros.h>
#endif

namespace varnel {

namespace {

// Each write call gets this long in all, whatever its length.
constexpr std::chrono::milliseconds kWriteTimeout{20};

std::string ToStd(const QString& s)
{
    return s.toLocal8Bit().toStdString();
}

bool ToQt(std::uint8_t byteSize, QSerialPort::DataBits& out)
{
    switch (byteSize) {
    case 5: out = QSerialPort::Data5; return true;
    case 6: out = QSerialPort::Data6; return true;
    case 7: out = QSerialPort::Data7; return true;
    case 8: out = QSerialPort::Data8; return true;
    default: return false;
    }
}

QSerialPort::Parity ToQt(Parity p)
{
    switch (p) {
    case Parity::Odd: return QSerialPort::OddParity;
    case Parity::Even: return QSerialPort::EvenParity;
    case Parity::Mark: return QSerialPort::MarkParity;
    case Parity::Space: return QSerialPort::SpaceParity;
    case Parity::None: break;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits ToQt(StopBits s)
{
    switch (s) {
    case StopBits::OneAndHalf: return QSerialPort::OneAndHalfStop;
    case StopBits::Two: return QSerialPort::TwoStop;
    case StopBits::One: break;
    }
    return QSerialPort::OneStop;
}

QSerialPort::FlowControl FlowOf(const LineSettings& s)
{
    if (s.rtsControl == LineControl::Handshake || s.outxCtsFlow)
        return QSerialPort::HardwareControl;
    if (s.outX || s.inX)
        return QSerialPort::SoftwareControl;
    return QSerialPort::NoFlowControl;
}

// The lock file QSerialPort takes lives in a directory that depends on who is
// allowed to write where, and root ignores TIOCEXCL: a lock on the device
// itself keeps two instances (and other flock-aware programs) apart.
bool LockDevice(const QSerialPort& port)
{
#ifdef _WIN32
    (void)port; // share mode 0 already makes the open exclusive
    return true;
#else
    return ::flock(static_cast<int>(port.handle()), LOCK_EX | LOCK_NB) == 0;
#endif
}

// A pseudo-terminal holds 8N1 whatever it is asked. Asked for 7E1 while it
// already has all else the open asks for (as a reader killed mid-readout
// leaves it), the refusal comes back as "Invalid argument" and the open fails.
bool IsPseudoTerminal(const QString& path)
{
#ifdef __linux__
    struct stat st {};
    const unsigned major =
        ::stat(path.toLocal8Bit().constData(), &st) == 0 && S_ISCHR(st.st_mode) ? ::major(st.st_rdev) : 0;
    return major >= 136 && major <= 143; // UNIX98 pseudo-terminal slaves
#else
    (void)path;
    return false;
#endif
}

// Qt reports a device locked by someone else as a permission error, which
// sends users off to change permissions they already have.
bool InUseByOther(QSerialPort::SerialPortError error, const QString& path)
{
#ifdef _WIN32
    (void)path;
    return false;
#else
    return error == QSerialPort::PermissionError
           && ::access(path.toLocal8Bit().constData(), R_OK | W_OK) == 0;
#endif
}

} // namespace

QtSerialPortBackend::QtSerialPortBackend()
{
    // Signals arrive directly, from inside our own calls or from the event
    // loop's notifiers, so a dead device is released wherever it is noticed.
    QObject::connect(&m_port, &QSerialPort::errorOccurred, &m_port,
                     [this](QSerialPort::SerialPortError e) { OnError(e); });
}

QtSerialPortBackend::~QtSerialPortBackend()
{
    Close();
}

bool QtSerialPortBackend::Open(const std::string& device, const LineSettings& settings, bool forLineTest)
{
    Close();
    m_lastError.clear();
    m_openDenied = false;

    // The lock is taken on the name: two names of one device must give one name.
    const QString given = QString::fromLocal8Bit(device.c_str());
    const QString canonical = QFileInfo(given).canonicalFilePath();
    const QString path = canonical.isEmpty() ? given : canonical;
    m_device = ToStd(path);
    m_port.setPortName(path);

    // Character format before the open: a pseudo-terminal refuses it afterwards.
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    if (!ToQt(settings.byteSize, dataBits)) {
        m_lastError = "Unsupported character size: " + std::to_string(settings.byteSize) + " data bits";
        return false;
    }
    const bool pseudoTerminal = IsPseudoTerminal(path);
    m_port.setBaudRate(settings.baudRate);
    m_port.setDataBits(pseudoTerminal ? QSerialPort::Data8 : dataBits);
    m_port.setParity(pseudoTerminal ? QSerialPort::NoParity : ToQt(settings.parity));
    m_port.setStopBits(ToQt(settings.stopBits));
    m_port.setFlowControl(FlowOf(settings));

    // A lock left by a program that ended must not keep the device from us.
    if (m_lastError = CheckLockFile(m_device); !m_lastError.empty())
        return false;
    if (!m_port.open(QIODevice::ReadWrite)) {
        const bool inUse = InUseByOther(m_port.error(), path);
        m_openDenied = !inUse && m_port.error() == QSerialPort::PermissionError;
        m_lastError = inUse ? InUse(m_device) : ToStd(m_port.errorString());
        m_port.clearError();
        return false;
    }
    if (!LockDevice(m_port)) {
        CloseDevice();
        m_lastError = InUse(m_device);
        return false;
    }
    ApplyLineLevels(settings);
    m_readNotifier.clear();
    if (!forLineTest) {
        for (QSocketNotifier* n : m_port.findChildren<QSocketNotifier*>())
            if (n->type() == QSocketNotifier::Read)
                m_readNotifier = n;
        QuietReadNotifier();
    }
    // The break count starts at the open (Close has cleared the last one), so a
    // break before the first query counts.
    (void)TakeBreakSeen();
    return true;
}

void QtSerialPortBackend::Close()
{
    if (m_port.isOpen()) {
        // A port we let go of is never left holding a break.
        m_port.setBreakEnabled(false);
        if (m_port.isOpen())
            CloseDevice();
    }
    m_port.clearError();
    m_lastBreakCount = -1;
}

void QtSerialPortBackend::CloseDevice()
{
    m_closing = true;
    m_port.close();
    m_closing = false;
    m_port.clearError();
}

bool QtSerialPortBackend::Apply(const LineSettings& settings)
{
    if (!m_port.isOpen())
        return false;
    // Only the rate: re-writing the character format fails on a pseudo-terminal.
    const bool ok = Settle(m_port.setBaudRate(settings.baudRate));
    if (m_port.isOpen())
        ApplyLineLevels(settings);
    return ok;
}

void QtSerialPortBackend::ApplyLineLevels(const LineSettings& settings)
{
    // A pseudo-terminal has no modem lines and refuses both calls; the line
    // itself still works, so a refusal is not a failure of the port.
    if (settings.rtsControl != LineControl::Handshake)
        m_port.setRequestToSend(settings.rtsControl == LineControl::Enable);
    if (!m_port.isOpen())
        return;
    m_port.setDataTerminalReady(settings.dtrControl != LineControl::Disable);
    if (m_port.isOpen())
        m_port.clearError();
}

std::size_t QtSerialPortBackend::Write(const std::uint8_t* data, std::size_t count)
{
    if (!m_port.isOpen() || count == 0)
        return 0;
    if (m_port.write(reinterpret_cast<const char*>(data), static_cast<qint64>(count)) < 0) {
        m_lastError = ToStd(m_port.errorString());
        m_port.clearError();
        return 0;
    }
    const auto deadline = std::chrono::steady_clock::now() + kWriteTimeout;
    while (m_port.isOpen() && m_port.bytesToWrite() > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !m_port.waitForBytesWritten(static_cast<int>(left.count())))
            break;
    }
    if (!m_port.isOpen())
        return 0;
    m_port.clearError();
    // What the driver has not taken in time stays queued (it goes out as soon
    // as there is room) but is not counted as taken.
    const auto queued = static_cast<std::size_t>(std::max<qint64>(0, m_port.bytesToWrite()));
    return count - std::min(count, queued);
}

std::size_t QtSerialPortBackend::Read(std::uint8_t* data, std::size_t max)
{
    if (!m_port.isOpen() || max == 0)
        return 0;
    // Without a running event loop nothing moves bytes from the driver into
    // QSerialPort's buffer; a zero wait does that without blocking.
    if (m_port.bytesAvailable() < static_cast<qint64>(max)) {
        m_port.waitForReadyRead(0);
        if (!m_port.isOpen())
            return 0;
        m_port.clearError();
    }
    const qint64 n = m_port.read(reinterpret_cast<char*>(data), static_cast<qint64>(max));
    QuietReadNotifier();
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

void QtSerialPortBackend::QuietReadNotifier()
{
    if (m_readNotifier && m_port.isOpen())
        m_readNotifier->setEnabled(false);
}

bool QtSerialPortBackend::Purge()
{
    if (!m_port.isOpen())
        return false;
    // Also flushes the driver's queues (tcflush / PurgeComm).
    return Settle(m_port.clear(QSerialPort::AllDirections));
}

bool QtSerialPortBackend::Settle(bool ok)
{
    // A call that found the device gone has released it and said why.
    if (!m_port.isOpen())
        return false;
    if (!ok)
        m_lastError = ToStd(m_port.errorString());
    m_port.clearError();
    return ok;
}

bool QtSerialPortBackend::SetBreak(bool on)
{
    return m_port.isOpen() && Settle(m_port.setBreakEnabled(on));
}

bool QtSerialPortBackend::SetRts(bool on)
{
    return m_port.isOpen() && Settle(m_port.setRequestToSend(on));
}

bool QtSerialPortBackend::SetDtr(bool on)
{
    return m_port.isOpen() && Settle(m_port.setDataTerminalReady(on));
}

BreakSeen QtSerialPortBackend::TakeBreakSeen()
{
    // A device that vanished is a failed query, not a port unable to report.
    if (!m_port.isOpen())
        return BreakSeen::No;
#if defined(_WIN32)
    DWORD errors = 0;
    if (!::ClearCommError(reinterpret_cast<HANDLE>(m_port.handle()), &errors, nullptr))
        return BreakSeen::Unsupported;
    return (errors & CE_BREAK) ? BreakSeen::Yes : BreakSeen::No;
#elif defined(__linux__)
    serial_icounter_struct counts{};
    if (::ioctl(static_cast<int>(m_port.handle()), TIOCGICOUNT, &counts) != 0)
        return BreakSeen::Unsupported;
    const std::int64_t previous = m_lastBreakCount;
    m_lastBreakCount = counts.brk;
    return BreakSeenBetween(previous, counts.brk);
#else
    return BreakSeen::Unsupported;
#endif
}

void QtSerialPortBackend::OnError(QSerialPort::SerialPortError error)
{
    if (m_closing)
        return;
    switch (error) {
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
        if (m_port.isOpen())
            Release();
        break;
    default: break;
    }
}

void QtSerialPortBackend::Release()
{
    // Qt 6.4 keeps its notifier on a dead descriptor and spins at full CPU:
    // let the device go now; the caller sees a silent port.
    m_lastError = "Device lost: " + ToStd(m_port.errorString());
    CloseDevice();
    m_lastBreakCount = -1;
}

} // namespace varnel
