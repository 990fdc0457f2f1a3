#pragma once

#include "core/ControlIds.h"
#include "core/View.h"
#include "readout/BaudChoices.h"

#include <map>
#include <string>
#include <vector>

namespace varnel::test {

// Keeps what the core shows, and an ordered journal of timer, message, row and show calls.
class RecordingView final : public View {
public:
    void SetControlText(int id, const std::string& text) override { texts[id] = text; }
    int ComboSelection(int id) const override
    {
        return comboSelection.count(id) ? comboSelection.at(id) : -1;
    }
    std::string ComboItemText(int id, int index) const override
    {
        return comboItems.at(id).at(static_cast<std::size_t>(index));
    }
    bool IsChecked(int id) const override { return checks.count(id) && checks.at(id); }
    void StartTimer(int id, std::chrono::milliseconds period) override
    {
        timers[id] = static_cast<int>(period.count());
        journal.push_back("start " + std::to_string(id) + " " + std::to_string(period.count()));
    }
    void StopTimer(int id) override
    {
        timers.erase(id);
        journal.push_back("stop " + std::to_string(id));
    }
    void ShowMessage(const std::string& text, MessageIcon) override { journal.push_back("message " + text); }
    void InsertRow(int index, const std::string& text) override
    {
        if (index >= 0 && index <= static_cast<int>(rows.size()))
            rows.insert(rows.begin() + index, Row{text, {}, {}, false});
    }
    void SetRowColumns(int index, const std::string& code, const std::string& value) override
    {
        Row& row = rows.at(static_cast<std::size_t>(index));
        row = Row{row.text, code, value, true};
    }
    void DeleteAllRows() override
    {
        rows.clear();
        journal.push_back("delete rows");
    }
    void EnsureRowVisible(int index) override { lastVisible = index; }
    void ShowControl(int id, bool show) override
    {
        visible[id] = show;
        journal.push_back(std::string(show ? "show " : "hide ") + std::to_string(id));
    }
    void SetControlToolTip(int id, const std::string& text) override { toolTips[id] = text; }
    void SetWindowBottom(int clientBottom) override { windowBottoms.push_back(clientBottom); }

    bool TimerRunning(int id) const { return timers.count(id) != 0; }
    // Every row's text, a data row's columns after it: "1.8.0(5) [1.8.0|5]".
    std::vector<std::string> RowsWithColumns() const
    {
        std::vector<std::string> out;
        for (const auto& r : rows)
            out.push_back(r.hasColumns ? r.text + " [" + r.code + "|" + r.value + "]" : r.text);
        return out;
    }

    struct Row {
        std::string text, code, value;
        bool hasColumns = false;
    };

    std::map<int, std::string> texts;
    std::map<int, std::vector<std::string>> comboItems{
        {IDC_INITIAL_BAUD, {kInitialBaudItems.begin(), kInitialBaudItems.end()}},
        {IDC_TRANSMIT_BAUD, {kTransmitBaudItems.begin(), kTransmitBaudItems.end()}}};
    std::map<int, int> comboSelection{{IDC_INITIAL_BAUD, 0}, {IDC_TRANSMIT_BAUD, 0}};
    std::map<int, bool> checks{{IDC_RTS, true}, {IDC_DTR, true}};
    std::map<int, int> timers; // id -> period of a running timer
    std::vector<std::string> journal;
    std::vector<Row> rows;
    int lastVisible = -1;
    std::map<int, bool> visible;
    std::map<int, std::string> toolTips;
    std::vector<int> windowBottoms;
};

} // namespace varnel::test
