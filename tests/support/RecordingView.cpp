#include "RecordingView.h"

#include "core/ControlIds.h"
#include "readout/BaudChoices.h"

namespace varnel::test {

RecordingView::RecordingView()
{
    comboItems[IDC_INITIAL_BAUD].assign(kInitialBaudItems.begin(), kInitialBaudItems.end());
    comboItems[IDC_TRANSMIT_BAUD].assign(kTransmitBaudItems.begin(), kTransmitBaudItems.end());
    comboSelection[IDC_INITIAL_BAUD] = 0;
    comboSelection[IDC_TRANSMIT_BAUD] = 0;
    checks[IDC_RTS] = true;
    checks[IDC_DTR] = true;
}

int RecordingView::ComboSelection(int id) const
{
    auto it = comboSelection.find(id);
    return it == comboSelection.end() ? -1 : it->second;
}

std::string RecordingView::ComboItemText(int id, int index) const
{
    auto it = comboItems.find(id);
    if (it == comboItems.end() || index < 0 || index >= static_cast<int>(it->second.size()))
        return {};
    return it->second[static_cast<std::size_t>(index)];
}

bool RecordingView::IsChecked(int id) const
{
    auto it = checks.find(id);
    return it != checks.end() && it->second;
}

void RecordingView::StartTimer(int id, std::chrono::milliseconds period)
{
    timers[id] = static_cast<int>(period.count());
    journal.push_back("start " + std::to_string(id) + " " + std::to_string(period.count()));
}

void RecordingView::StopTimer(int id)
{
    timers.erase(id);
    journal.push_back("stop " + std::to_string(id));
}

void RecordingView::ShowMessage(const std::string& text, MessageIcon icon)
{
    messages.push_back({text, icon});
    journal.push_back("message " + text);
}

void RecordingView::InsertRow(int index, const std::string& text)
{
    if (index >= 0 && index <= static_cast<int>(rows.size()))
        rows.insert(rows.begin() + index, Row{text, {}, {}, false});
}

void RecordingView::SetRowColumns(int index, const std::string& code, const std::string& value)
{
    if (index < 0 || index >= static_cast<int>(rows.size()))
        return;
    auto& r = rows[static_cast<std::size_t>(index)];
    r.code = code;
    r.value = value;
    r.hasColumns = true;
}

void RecordingView::DeleteAllRows()
{
    rows.clear();
    journal.push_back("delete rows");
}

void RecordingView::ShowControl(int id, bool show)
{
    visible[id] = show;
    journal.push_back(std::string(show ? "show " : "hide ") + std::to_string(id));
}

bool RecordingView::TimerRunning(int id) const
{
    return timers.count(id) != 0;
}

std::vector<std::string> RecordingView::RowTexts() const
{
    std::vector<std::string> out;
    for (const auto& r : rows)
        out.push_back(r.text);
    return out;
}

} // namespace varnel::test
