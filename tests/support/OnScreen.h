#pragma once
// What a user sees of a widget test's window: tool tips and modal boxes.
#include <QApplication>
#include <QHelpEvent>
#include <QMessageBox>
#include <QTimer>
#include <QToolTip>

#include <functional>

namespace varnel::test {

// The tip the mouse resting at `at` brings up; the event goes on to the parents where `widget` ignores it.
inline QString ToolTipAt(QWidget* widget, QPoint at)
{
    QHelpEvent hover(QEvent::ToolTip, at, widget->mapToGlobal(at));
    QCoreApplication::sendEvent(widget, &hover);
    return QToolTip::text();
}

// The modal box `act` brings up, closed as with OK: "box ICON CAPTION: TEXT", informative text below.
inline QString ModalBoxDuring(const std::function<void()>& act)
{
    QString seen;
    QObject guard; // no box: the check is dropped with it
    QTimer::singleShot(0, &guard, [&seen] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            seen = QStringLiteral("box %1 %2: %3").arg(box->icon()).arg(box->windowTitle(), box->text())
                   + (box->informativeText().isEmpty() ? QString() : '\n' + box->informativeText());
            box->done(QMessageBox::Ok);
        }
    });
    act();
    return seen;
}

} // namespace varnel::test
