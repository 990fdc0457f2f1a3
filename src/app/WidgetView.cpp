#include "WidgetView.h"

#include "ResultList.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

namespace varnel {

QString ToDisplay(const std::string& text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromDisplay(const QString& text)
{
    return text.toLatin1().toStdString();
}

WidgetView::WidgetView(QWidget& window, TimerHandler onTimer)
    : m_window(window),
      m_onTimer(std::move(onTimer)),
      m_showMessage([this](const std::string& text, MessageIcon icon) { ShowMessageBox(text, icon); })
{
}

void WidgetView::AddControl(int id, QWidget* widget)
{
    m_controls[id] = widget;
}

QWidget* WidgetView::Control(int id) const
{
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

template <typename T> T* WidgetView::ControlAs(int id) const
{
    return qobject_cast<T*>(Control(id));
}

void WidgetView::SetResultList(ResultListView* list, ResultRowModel* rows)
{
    m_list = list;
    m_rows = rows;
}

void WidgetView::SetControlText(int id, const std::string& text)
{
    if (auto* label = ControlAs<QLabel>(id))
        label->setText(ToDisplay(text));
    else if (auto* button = ControlAs<QAbstractButton>(id))
        button->setText(ToDisplay(text));
}

int WidgetView::ComboSelection(int id) const
{
    const auto* combo = ControlAs<QComboBox>(id);
    return combo ? combo->currentIndex() : -1;
}

std::string WidgetView::ComboItemText(int id, int index) const
{
    const auto* combo = ControlAs<QComboBox>(id);
    if (!combo || index < 0 || index >= combo->count())
        return {};
    return FromDisplay(combo->itemText(index));
}

bool WidgetView::IsChecked(int id) const
{
    const auto* button = ControlAs<QAbstractButton>(id);
    return button && button->isChecked();
}

void WidgetView::StartTimer(int id, std::chrono::milliseconds period)
{
    QTimer*& timer = m_timers[id];
    if (!timer) {
        timer = new QTimer(&m_window);
        QObject::connect(timer, &QTimer::timeout, &m_window, [this, id] { m_onTimer(id); });
    }
    timer->start(period);
}

void WidgetView::StopTimer(int id)
{
    if (auto it = m_timers.find(id); it != m_timers.end())
        it->second->stop();
}

bool WidgetView::TimerRunning(int id) const
{
    auto it = m_timers.find(id);
    return it != m_timers.end() && it->second->isActive();
}

void WidgetView::ShowMessage(const std::string& text, MessageIcon icon)
{
    m_showMessage(text, icon);
}

void WidgetView::ShowMessageBox(const std::string& text, MessageIcon icon)
{
    // Captioned with the executable's name without its extension.
    const QString caption = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    QMessageBox box(icon == MessageIcon::Stop ? QMessageBox::Critical : QMessageBox::Warning, caption,
                    ToDisplay(text), QMessageBox::Ok, &m_window);
    // The box's own text stays as it is; a reason goes below it.
    if (m_messageDetail)
        if (const std::string detail = m_messageDetail(text); !detail.empty())
            box.setInformativeText(ToDisplay(detail));
    box.exec();
}

void WidgetView::InsertRow(int index, const std::string& text)
{
    if (m_rows)
        m_rows->InsertRow(index, ToDisplay(text));
}

void WidgetView::SetRowColumns(int index, const std::string& code, const std::string& value)
{
    if (m_rows)
        m_rows->SetRowColumns(index, ToDisplay(code), ToDisplay(value));
}

void WidgetView::DeleteAllRows()
{
    if (m_rows)
        m_rows->Clear();
}

void WidgetView::EnsureRowVisible(int index)
{
    if (m_list)
        m_list->ScrollToRow(index);
}

void WidgetView::ShowControl(int id, bool visible)
{
    if (auto* widget = Control(id))
        widget->setVisible(visible);
}

void WidgetView::SetControlToolTip(int id, const std::string& text)
{
    if (auto* widget = Control(id))
        widget->setToolTip(ToDisplay(text));
}

void WidgetView::SetWindowBottom(int clientBottom)
{
    // The frame stays as it is; only the client area grows or shrinks.
    m_window.setFixedHeight(clientBottom);
}

} // namespace varnel
