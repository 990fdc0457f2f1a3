#pragma once

#include "core/View.h"

#include <map>
#include <string>
#include <vector>

namespace varnel::test {

// Keeps what the core shows, and an ordered journal of timer and message calls.
class RecordingView final : public View {
public:
    RecordingView();

    void SetControlText(int id, const std::string& text) override { texts[id] = text; }
    int ComboSelection(int id) const override;
    std::string ComboItemText(int id, int index) const override;
    bool IsChecked(int id) const override;
    void StartTimer(int id, std::chrono::milliseconds period) override;
    void StopTimer(int id) override;
    void ShowMessage(const std::string& text, MessageIcon icon) override;
    void InsertRow(int index, const std::string& text) override;
    void SetRowColumns(int index, const std::string& code, const std::string& value) override;
    void DeleteAllRows() override;
    void EnsureRowVisible(int index) override { lastVisible = index; }
    void ShowControl(int id, bool visible) override;
    void SetControlToolTip(int id, const std::string& text) override { toolTips[id] = text; }
    void SetWindowBottom(int clientBottom) override { windowBottoms.push_back(clientBottom); }

    bool TimerRunning(int id) const;
    // Column 0 of every row, in order.
    std::vector<std::string> RowTexts() const;

    struct Row {
        std::string text, code, value;
        bool hasColumns = false;
    };
    struct Message {
        std::string text;
        MessageIcon icon;
    };

    std::map<int, std::string> texts;
    std::map<int, std::vector<std::string>> comboItems;
    std::map<int, int> comboSelection;
    std::map<int, bool> checks;
    std::map<int, int> timers; // id -> period of a running timer
    std::vector<std::string> journal;
    std::vector<Message> messages;
    std::vector<Row> rows;
    int lastVisible = -1;
    std::map<int, bool> visible;
    std::map<int, std::string> toolTips;
    std::vector<int> windowBottoms;
};

} // namespace varnel::test
