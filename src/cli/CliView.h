#pragma once

#include "CliOptions.h"

#include "core/View.h"
#include "readout/BlockCheck.h"

#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

class QTimer;

namespace varnel {
class SerialLine;
}

namespace varnel::cli {

// The window as a stream: rows are printed as they are added (text, csv) or
// held for one JSON object at the end (json, csv with retries: the last try's),
// or for one JSON line per telegram (jsonl); combos answer with the options' choices.
class CliView final : public View {
public:
    CliView(const Options& options, std::ostream& out, std::ostream& err);
    ~CliView() override;

    // Where an open failure's details (port name, device, reason) come from.
    void SetSerial(const SerialLine* serial) { m_serial = serial; }
    // Called on each timer tick with the timer's id.
    std::function<void(int)> onTimer;

    void SetControlText(int id, const std::string& text) override { m_texts[id] = text; }
    int ComboSelection(int id) const override;
    std::string ComboItemText(int id, int index) const override;
    bool IsChecked(int id) const override;
    void StartTimer(int id, std::chrono::milliseconds period) override;
    void StopTimer(int id) override;
    void ShowMessage(const std::string& text, MessageIcon icon) override;
    void InsertRow(int index, const std::string& text) override;
    void SetRowColumns(int index, const std::string& code, const std::string& value) override;
    void DeleteAllRows() override;
    void EnsureRowVisible(int index) override;
    void ShowControl(int, bool) override {}
    void SetControlToolTip(int, const std::string&) override {}
    void SetWindowBottom(int) override {}

    // Why the trace log was not written, for the JSON object; empty when it was.
    void SetLogLoss(const std::string& reason) { m_logLoss = reason; }
    // Prints what comes after the rows: the labels, or the whole JSON object, or
    // the CSV rows held for the last try. For jsonl, rows not yet printed make one more line.
    void Finish(BlockCheckResult check, std::int64_t utcMs);
    // jsonl: the telegram's line, with the time it ended; the rows are then forgotten.
    void EndTelegram(BlockCheckResult check, std::int64_t utcMs);

private:
    struct Row {
        std::string data, code, value;
        bool hasColumns = false;
    };
    void Emit(const Row& row);
    void FlushPending();
    void PrintObject(BlockCheckResult check, const std::string& ended);
    bool HoldsRows() const;

    Options m_options;
    std::ostream& m_out;
    std::ostream& m_err;
    const SerialLine* m_serial = nullptr;
    std::map<int, std::string> m_texts;
    std::map<int, std::unique_ptr<QTimer>> m_timers;
    Row m_pending;
    bool m_hasPending = false;
    std::vector<Row> m_heldRows;
    std::string m_logLoss;
};

std::string JsonString(const std::string& text);
// An ISO 8601 time in UTC, to the millisecond: 2025-06-12T10:15:30.250Z.
std::string UtcTimeText(std::int64_t utcMs);

} // namespace varnel::cli
