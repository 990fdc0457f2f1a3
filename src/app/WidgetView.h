#pragma once

#include "core/View.h"

#include <QString>

#include <functional>
#include <map>
#include <string>

class QTimer;
class QWidget;

namespace varnel {

class ResultListView;
class ResultRowModel;

// 8-bit texts of the core shown one byte per character, and back.
QString ToDisplay(const std::string& text);
std::string FromDisplay(const QString& text);

// The View seam on the window's widgets, addressed by control id.
class WidgetView final : public View {
public:
    using TimerHandler = std::function<void(int id)>;
    using MessageHandler = std::function<void(const std::string& text, MessageIcon icon)>;
    // Extra lines for a message box below its text; empty for none.
    using MessageDetail = std::function<std::string(const std::string& text)>;

    // `window` is the top-level whose client area SetWindowBottom sizes and
    // which parents the timers and message boxes.
    WidgetView(QWidget& window, TimerHandler onTimer);

    void AddControl(int id, QWidget* widget);
    QWidget* Control(int id) const;
    void SetResultList(ResultListView* list, ResultRowModel* rows);
    // Replaces the modal box, for example in tests, which must never block.
    void SetMessageHandler(MessageHandler handler) { m_showMessage = std::move(handler); }
    void SetMessageDetail(MessageDetail detail) { m_messageDetail = std::move(detail); }
    bool TimerRunning(int id) const;

    void SetControlText(int id, const std::string& text) override;
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
    void ShowControl(int id, bool visible) override;
    void SetControlToolTip(int id, const std::string& text) override;
    void SetWindowBottom(int clientBottom) override;

private:
    template <typename T> T* ControlAs(int id) const;
    void ShowMessageBox(const std::string& text, MessageIcon icon);

    QWidget& m_window;
    TimerHandler m_onTimer;
    MessageDetail m_messageDetail;
    MessageHandler m_showMessage;
    std::map<int, QWidget*> m_controls;
    std::map<int, QTimer*> m_timers;
    ResultListView* m_list = nullptr;
    ResultRowModel* m_rows = nullptr;
};

} // namespace varnel
