#pragma once

#include "DialogUnits.h"
#include "WidgetView.h"
#include "linetest/LineTest.h"
#include "readout/ReadoutCore.h"
#include "settings/Settings.h"

#include <QDialog>
#include <QIcon>
#include <QRect>
#include <QUrl>

#include <functional>
#include <string>

namespace varnel {

class CLinkLabel;
class LogViewer;
struct ControlTemplate;
class ResultListView;
class ResultRowModel;

// The address the link label opens, and its text.
inline constexpr const char* kMakerUrl = "https://varnel.example.org/";

// What the window starts from: the saved port index and the window's saved
// outer rectangle (the size is recomputed from the layout, whatever was saved).
using WindowSettings = Settings;

// The main window: every control of the dialog template, the routing of every
// command and timer to the component that handles it, and the View on top.
class CReadoutDlg final : public QDialog {
    Q_OBJECT

public:
    using UrlOpener = std::function<bool(const QUrl& url)>;
    // Called when the window ends, with the port index and the window's outer
    // (restored) rectangle to keep for the next run.
    using DestroyHandler = std::function<void(int portIndex, const QRect& restoredRect)>;

    CReadoutDlg(Port& port, Clock& clock, const PortNames& names, const WindowSettings& settings,
                std::string logPath = kTraceLogName, QWidget* parent = nullptr);

    // Seams of the desktop, replaced in tests so that nothing blocks or starts.
    void SetMessageHandler(WidgetView::MessageHandler handler);
    void SetUrlOpener(UrlOpener opener) { m_openUrl = std::move(opener); }
    void SetDestroyHandler(DestroyHandler handler) { m_onDestroy = std::move(handler); }

    // Handlers, as the routing table calls them.
    void OnRead();
    void OnShowLog();
    void OnTest();
    void OnBreak();
    void OnRts();
    void OnDtr();
    void OnPortChange();
    void OnInitialBaudChange();
    void OnTimer(int id);
    // Enter outside a push button: takes the controls' data, then ends the window.
    void OnOK();

    ReadoutCore& Core() { return m_core; }
    WidgetView& Widgets() { return m_view; }
    QWidget* Control(int id) const { return m_view.Control(id); }
    CLinkLabel* LinkLabel() const { return m_link; }
    ResultRowModel* Rows() const { return m_rows; }
    LogViewer* Viewer() const { return m_viewer; }
    const DialogUnits& Units() const { return m_units; }
    // The layout's outer window size; Test extends the client area to kLineTestRowHeight below m_posDY.
    int LayoutWidth() const { return m_posDX; }
    int LayoutHeight() const { return m_posDY; }
    // The window's outer rectangle as it would be restored.
    QRect RestoredRect() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

public slots:
    void done(int result) override;

private:
    void CreateControls();
    QWidget* CreateControl(const ControlTemplate& control);
    void OnInitDialog();
    void PlaceWindow();
    void SetUpLink();
    void FillCombos();
    void DoDataExchange(bool fromControls);
    void SelectPort();
    void OnDestroy(const QRect& restoredRect);

    DialogUnits m_units;
    WidgetView m_view;
    ReadoutCore m_core;
    LineTest m_lineTest;
    const PortNames& m_names;
    QIcon m_hIcon;
    ResultListView* m_list = nullptr;
    ResultRowModel* m_rows = nullptr;
    CLinkLabel* m_link = nullptr;
    LogViewer* m_viewer = nullptr;
    int m_posX;
    int m_posY;
    int m_posDX;
    int m_posDY;
    UrlOpener m_openUrl;
    DestroyHandler m_onDestroy;
    bool m_destroyed = false;
};

} // namespace varnel
