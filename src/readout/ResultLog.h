#pragma once

#include "serial/SerialLine.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace varnel {

class View;

constexpr const char* kTraceLogName = "Log1107.txt";

// The result list rows and the trace log that mirrors them, plus the
// splitting of a data line into code and value.
class ResultLog final : public SentBytesSink {
public:
    explicit ResultLog(View& view, std::string logPath = kTraceLogName);
    ~ResultLog() override;
    ResultLog(const ResultLog&) = delete;
    ResultLog& operator=(const ResultLog&) = delete;

    void ClearRows();
    void AddRow(const std::string& text, bool withColumns);
    void ParseDataLine(const std::string& text);
    void LogSentBytes(const std::uint8_t* bytes, int count) override;
    // Closes an open log, then creates or truncates the file (appends to it after
    // SetLogAppend(true)); stays closed when the file cannot be created.
    void OpenLog();
    void SetLogAppend(bool append) { m_append = append; }
    void CloseLog();
    bool IsLogOpen() const { return m_logFile != nullptr; }
    const std::string& LogPath() const { return m_logPath; }
    // Why the log since the last OpenLog is missing or incomplete (it could not
    // be created, or a write failed and logging stopped); empty while it is whole.
    const std::string& LogError() const { return m_logError; }

    int m_rowCount = 0;
    std::string m_code;
    std::string m_value;

private:
    void WriteRecord(const char* data, std::size_t size);
    void Fail(const std::string& reason);

    View& m_view;
    std::string m_logPath;
    std::FILE* m_logFile = nullptr;
    bool m_append = false;
    std::string m_logError;
};

} // namespace varnel
