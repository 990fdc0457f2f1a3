#include "serial/Win32SerialPort.h"

#include <algorithm>
#include <climits>

namespace varnel {

namespace {

constexpr DWORD kQueueSize = 1024;
constexpr DWORD kTimeoutMs = 20;
const char* const kInUse = "Device is in use by another program";

bool UnderWine()
{
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

DWORD Bits(LineControl control)
{
    switch (control) {
    case LineControl::Enable: return RTS_CONTROL_ENABLE;
    case LineControl::Handshake: return RTS_CONTROL_HANDSHAKE;
    case LineControl::Disable: break;
    }
    return RTS_CONTROL_DISABLE;
}

void SetFormat(DCB& dcb, const LineSettings& s)
{
    dcb.BaudRate = static_cast<DWORD>(s.baudRate);
    dcb.ByteSize = s.byteSize;
    dcb.Parity = static_cast<BYTE>(s.parity);
    dcb.StopBits = static_cast<BYTE>(s.stopBits);
    // The DTR values equal the RTS ones (0, 1, 2).
    dcb.fRtsControl = Bits(s.rtsControl);
    dcb.fDtrControl = Bits(s.dtrControl);
}

} // namespace

void ComposeOpenState(DCB& dcb, const LineSettings& settings)
{
    SetFormat(dcb, settings);
    dcb.fOutxCtsFlow = settings.outxCtsFlow;
    dcb.fOutxDsrFlow = settings.outxDsrFlow;
    dcb.fDsrSensitivity = settings.dsrSensitivity;
    dcb.fTXContinueOnXoff = settings.txContinueOnXoff;
    dcb.fOutX = settings.outX;
    dcb.fInX = settings.inX;
    dcb.fNull = settings.null;
}

void ComposeApplyState(DCB& dcb, const LineSettings& settings)
{
    SetFormat(dcb, settings);
}

COMMTIMEOUTS ReadoutTimeouts()
{
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = MAXDWORD;
    t.ReadTotalTimeoutConstant = kTimeoutMs;
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = kTimeoutMs;
    return t;
}

bool PseudoTerminalRefusal(bool underWine, const DCB& wanted, const DCB& reported)
{
    const bool askedForMore = wanted.ByteSize != 8 || wanted.Parity != NOPARITY;
    return underWine && askedForMore && reported.BaudRate == wanted.BaudRate && reported.ByteSize == 8
           && reported.Parity == NOPARITY && reported.StopBits == wanted.StopBits;
}

std::string SystemErrorText(DWORD error)
{
    char* text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                       | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = n > 0 && text != nullptr ? std::string(text, n) : std::string();
    LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
        result.pop_back();
    if (result.empty())
        result = "System error " + std::to_string(error);
    return result;
}

Win32SerialPort::Win32SerialPort() : m_underWine(UnderWine()) {}

Win32SerialPort::~Win32SerialPort()
{
    Close();
}

bool Win32SerialPort::Fail(const char* what)
{
    m_lastError = std::string(what) + ": " + SystemErrorText(GetLastError());
    Close();
    return false;
}

bool Win32SerialPort::Open(const std::string& device, const LineSettings& settings, bool forLineTest)
{
    Close();
    m_lastError.clear();
    m_device = device;
    m_overlapped = forLineTest;
    m_handle = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           forLineTest ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    if (m_handle == INVALID_HANDLE_VALUE) {
        // Share mode 0: a port another program holds is refused as "access denied".
        const DWORD error = GetLastError();
        m_lastError = error == ERROR_ACCESS_DENIED ? kInUse : SystemErrorText(error);
        return false;
    }

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(m_handle, &dcb))
        return Fail("GetCommState");
    ComposeOpenState(dcb, settings);
    if (!WriteState(dcb))
        return Fail("SetCommState");

    COMMTIMEOUTS timeouts{};
    if (!GetCommTimeouts(m_handle, &timeouts))
        return Fail("GetCommTimeouts");
    timeouts = ReadoutTimeouts();
    if (!SetCommTimeouts(m_handle, &timeouts))
        return Fail("SetCommTimeouts");
    if (forLineTest)
        return true;
    if (!SetCommMask(m_handle, EV_TXEMPTY))
        return Fail("SetCommMask");
    if (!SetupComm(m_handle, kQueueSize, kQueueSize))
        return Fail("SetupComm");
    return true;
}

bool Win32SerialPort::WriteState(DCB& dcb)
{
    if (SetCommState(m_handle, &dcb))
        return true;
    const DWORD error = GetLastError();
    DCB reported{};
    reported.DCBlength = sizeof reported;
    if (GetCommState(m_handle, &reported) && PseudoTerminalRefusal(m_underWine, dcb, reported))
        return true;
    SetLastError(error);
    return false;
}

void Win32SerialPort::Close()
{
    if (m_handle == INVALID_HANDLE_VALUE)
        return;
    // A port we let go of is never left holding a break.
    EscapeCommFunction(m_handle, CLRBREAK);
    CloseHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
}

void Win32SerialPort::Release(const char* what)
{
    // A device that went away (a USB probe pulled out) fails every call from
    // now on: let it go at once, so the readout meets silence and the next
    // open says what is wrong.
    m_lastError = std::string("Device lost: ") + what + ": " + SystemErrorText(GetLastError());
    Close();
}

bool Win32SerialPort::Apply(const LineSettings& settings)
{
    if (m_handle == INVALID_HANDLE_VALUE)
        return false;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(m_handle, &dcb)) {
        m_lastError = "GetCommState: " + SystemErrorText(GetLastError());
        return false;
    }
    ComposeApplyState(dcb, settings);
    if (WriteState(dcb))
        return true;
    m_lastError = "SetCommState: " + SystemErrorText(GetLastError());
    return false;
}

std::size_t Win32SerialPort::Write(const std::uint8_t* data, std::size_t count)
{
    if (m_handle == INVALID_HANDLE_VALUE || m_overlapped || count == 0)
        return 0;
    DWORD written = 0;
    const DWORD n = static_cast<DWORD>(std::min<std::size_t>(count, MAXDWORD));
    if (!WriteFile(m_handle, data, n, &written, nullptr)) {
        m_lastError = "WriteFile: " + SystemErrorText(GetLastError());
        return 0;
    }
    return written;
}

std::size_t Win32SerialPort::Read(std::uint8_t* data, std::size_t max)
{
    if (m_handle == INVALID_HANDLE_VALUE || m_overlapped || max == 0)
        return 0;
    DWORD got = 0;
    const DWORD n = static_cast<DWORD>(std::min<std::size_t>(max, MAXDWORD));
    if (ReadFile(m_handle, data, n, &got, nullptr))
        return std::min<std::size_t>(got, max);
    if (GetLastError() == ERROR_OPERATION_ABORTED) {
        // A driver left with abort-on-error stops reading after a line error
        // until the errors are taken.
        DWORD errors = 0;
        ClearCommError(m_handle, &errors, nullptr);
        return 0;
    }
    Release("ReadFile");
    return 0;
}

bool Win32SerialPort::Purge()
{
    return m_handle != INVALID_HANDLE_VALUE && PurgeComm(m_handle, PURGE_TXCLEAR | PURGE_RXCLEAR);
}

bool Win32SerialPort::Escape(DWORD function)
{
    if (m_handle == INVALID_HANDLE_VALUE)
        return false;
    if (EscapeCommFunction(m_handle, function))
        return true;
    m_lastError = "EscapeCommFunction: " + SystemErrorText(GetLastError());
    return false;
}

bool Win32SerialPort::SetBreak(bool on)
{
    return Escape(on ? SETBREAK : CLRBREAK);
}

bool Win32SerialPort::SetRts(bool on)
{
    return Escape(on ? SETRTS : CLRRTS);
}

bool Win32SerialPort::SetDtr(bool on)
{
    return Escape(on ? SETDTR : CLRDTR);
}

BreakSeen Win32SerialPort::TakeBreakSeen()
{
    if (m_handle == INVALID_HANDLE_VALUE)
        return BreakSeen::No;
    DWORD errors = 0;
    if (!ClearCommError(m_handle, &errors, nullptr))
        return BreakSeen::Unsupported;
    return (errors & CE_BREAK) ? BreakSeen::Yes : BreakSeen::No;
}

} // namespace varnel
