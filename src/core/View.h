#pragma once

#include <chrono>
#include <string>

namespace varnel {

enum class MessageIcon { Stop, Exclamation };

// What the core asks of the window. The dialog implements it with widgets,
// varnel-read on stdout, tests with a recording fake. Controls are addressed
// by their numeric ids (ControlIds.h); texts are 8-bit strings.
class View {
public:
    virtual ~View() = default;

    // Labels and other controls with a text.
    virtual void SetControlText(int id, const std::string& text) = 0;
    // Combo boxes: the selected index (-1 when none) and an item's text.
    virtual int ComboSelection(int id) const = 0;
    virtual std::string ComboItemText(int id, int index) const = 0;
    // Check boxes.
    virtual bool IsChecked(int id) const = 0;

    // Window timers by id; starting a running timer restarts it with the new period.
    virtual void StartTimer(int id, std::chrono::milliseconds period) = 0;
    virtual void StopTimer(int id) = 0;

    // Modal message box with an OK button, captioned with the program's name.
    virtual void ShowMessage(const std::string& text, MessageIcon icon) = 0;

    // The result list.
    virtual void InsertRow(int index, const std::string& text) = 0;
    virtual void SetRowColumns(int index, const std::string& code, const std::string& value) = 0;
    virtual void DeleteAllRows() = 0;
    virtual void EnsureRowVisible(int index) = 0;

    // Line test: indicator visibility, a control's tool tip, and the window's
    // bottom edge set to `clientBottom` pixels below the top of the client area.
    virtual void ShowControl(int id, bool visible) = 0;
    virtual void SetControlToolTip(int id, const std::string& text) = 0;
    virtual void SetWindowBottom(int clientBottom) = 0;
};

} // namespace varnel
