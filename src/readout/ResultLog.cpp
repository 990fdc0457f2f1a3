#include "readout/ResultLog.h"

#include "core/ControlIds.h"
#include "core/View.h"
#include "serial/DeviceLock.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#ifdef _WIN32
#include <share.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace varnel {

ResultLog::ResultLog(View& view, std::string logPath) : m_view(view), m_logPath(std::move(logPath)) {}

ResultLog::~ResultLog()
{
    if (m_logFile)
        std::fclose(m_logFile);
}

void ResultLog::ClearRows()
{
    m_rowCount = 0;
    m_view.DeleteAllRows();
}

void ResultLog::AddRow(const std::string& text, bool withColumns)
{
    const int i = m_rowCount++;
    m_view.InsertRow(i, text);
    if (m_logFile) {
        std::string record;
        record.reserve(text.size() + 6);
        record += "<== ";
        // One record a line: an LF in a row (a line that overflowed outside the data block holds
        // them) is written as a sent byte below 20 is.
        for (const char c : text)
            record += c == '\n' ? std::string("<0A>") : std::string(1, c);
        record += '\n';
        WriteRecord(record.data(), record.size());
    }
    if (withColumns)
        m_view.SetRowColumns(i, m_code, m_value);
    m_view.EnsureRowVisible(i);
}

void ResultLog::ParseDataLine(const std::string& text)
{
    m_code.clear();
    m_value.clear();
    const auto open = text.find('(');
    if (open == std::string::npos || open == 0)
        return;
    m_code = text.substr(0, open);
    // The value ends at the first '*' or ')' after the '(': a '*' further on
    // belongs to a later group (several groups per line: 6.8.4*01()6.8.5*01()...).
    const auto end = text.find_first_of("*)", open + 1);
    if (end != std::string::npos)
        m_value = text.substr(open + 1, end - open - 1);
}

void ResultLog::LogSentBytes(const std::uint8_t* bytes, int count)
{
    if (!m_logFile)
        return;
    std::string record = "==> ";
    for (int i = 0; i < count; ++i) {
        const std::uint8_t b = bytes[i];
        if (b < 20) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "<%02X>", b);
            record += hex;
        } else {
            record += static_cast<char>(b);
        }
    }
    record += '\n';
    WriteRecord(record.data(), record.size());
}

void ResultLog::OpenLog()
{
    CloseLog();
    m_logError.clear();
    m_view.SetControlToolTip(IDC_SHOW_LOG, {});
#ifdef _WIN32
    // Without sharing: no other program opens the log while it is open.
    m_logFile = ::_fsopen(m_logPath.c_str(), m_append ? "ab" : "wb", _SH_DENYRW);
    if (!m_logFile)
        Fail(std::strerror(errno));
#else
    // Non-blocking, and only a regular file or a device (a link to /dev/null
    // discards the log): a FIFO of that name must not hang Read.
    const int fd = ::open(m_logPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) {
        // ENXIO: a FIFO no one reads (or a device with nothing behind it).
        Fail(errno == ENXIO ? "it is not a regular file" : std::strerror(errno));
        return;
    }
    struct stat st {};
    std::string why;
    if (::fstat(fd, &st) != 0)
        why = std::strerror(errno);
    else if (!S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode))
        why = "it is not a regular file";
    // A file is held with an exclusive lock while open, the nearest a POSIX
    // system has to opening without sharing: a log another instance holds
    // stays closed here. A device has nothing to truncate and none to keep out.
    else if (S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) != 0)
        why = "it is in use by " + [&] {
            const std::string holder = FlockHolder(m_logPath);
            return holder.empty() ? std::string("another program") : holder;
        }();
    else if (S_ISREG(st.st_mode) && (m_append ? ::lseek(fd, 0, SEEK_END) < 0 : ::ftruncate(fd, 0) != 0))
        why = std::strerror(errno);
    if (why.empty()) {
        m_logFile = ::fdopen(fd, "wb");
        if (!m_logFile)
            why = std::strerror(errno);
    }
    if (!why.empty()) {
        ::close(fd);
        Fail(why);
    }
#endif
}

void ResultLog::CloseLog()
{
    if (std::FILE* file = std::exchange(m_logFile, nullptr); file && std::fclose(file) != 0)
        Fail(std::strerror(errno));
}

void ResultLog::Fail(const std::string& reason)
{
    // The first reason counts; what follows it is lost for the same cause.
    if (m_logError.empty())
        m_logError = reason;
    // A log with a gap is no record: it stops at the first lost byte.
    if (std::FILE* file = std::exchange(m_logFile, nullptr))
        std::fclose(file);
    m_view.SetControlToolTip(IDC_SHOW_LOG, "The trace log " + m_logPath + " was not written: " + m_logError);
}

void ResultLog::WriteRecord(const char* data, std::size_t size)
{
    // Text-mode output on every platform: each LF goes to disk as CR LF.
    const auto put = [this](const char* bytes, std::size_t n) {
        return std::fwrite(bytes, 1, n, m_logFile) == n;
    };
    bool ok = true;
    std::size_t start = 0;
    for (std::size_t i = 0; i < size && ok; ++i) {
        if (data[i] == '\n') {
            ok = put(data + start, i - start) && put("\r\n", 2);
            start = i + 1;
        }
    }
    // Flushed per record: a viewer opened mid-readout, or a crash, loses nothing,
    // and a full disk is noticed at the record it cuts.
    ok = ok && put(data + start, size - start) && std::fflush(m_logFile) == 0;
    if (!ok)
        Fail(std::strerror(errno));
}

} // namespace varnel
