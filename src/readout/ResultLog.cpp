#include "readout/ResultLog.h"

#include "core/View.h"

#include <cstdio>

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
    CloseLog();
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
        record += text;
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
#ifdef _WIN32
    // Without sharing: no other program opens the log while it is open.
    m_logFile = ::_fsopen(m_logPath.c_str(), m_append ? "ab" : "wb", _SH_DENYRW);
#else
    // Held with an exclusive lock while open, the nearest a POSIX system has to
    // opening without sharing; a log another instance holds stays closed here.
    // Non-blocking, and only a regular file: a FIFO of that name must not hang Read.
    const int fd = ::open(m_logPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0)
        return;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0
        || (m_append ? ::lseek(fd, 0, SEEK_END) < 0 : ::ftruncate(fd, 0) != 0)) {
        ::close(fd);
        return;
    }
    m_logFile = ::fdopen(fd, "wb");
    if (!m_logFile)
        ::close(fd);
#endif
}

void ResultLog::CloseLog()
{
    if (m_logFile) {
        std::fclose(m_logFile);
        m_logFile = nullptr;
    }
}

void ResultLog::WriteRecord(const char* data, std::size_t size)
{
    // Text-mode output on every platform: each LF goes to disk as CR LF.
    std::size_t start = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') {
            std::fwrite(data + start, 1, i - start, m_logFile);
            std::fwrite("\r\n", 1, 2, m_logFile);
            start = i + 1;
        }
    }
    std::fwrite(data + start, 1, size - start, m_logFile);
    // Flushed per record: a viewer opened mid-readout, or a crash, loses nothing.
    std::fflush(m_logFile);
}

} // namespace varnel
