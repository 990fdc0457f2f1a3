#include "ReadoutDlg.h"

#include "DialogTemplate.h"
#include "LogViewer.h"
#include "ResultList.h"
#include "Resources.h"
#include "readout/BaudChoices.h"
#include "widgets/CLinkLabel.h"
#ifdef _WIN32
#include "widgets/WindowsShell.h"
#endif

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include <algorithm>

namespace varnel {

namespace {

// The layout rule's margins, measured on the outer window: below "Read" and
// right of the list.
constexpr int kMarginBelowRead = 40;
constexpr int kMarginRightOfList = 20;
// Caption and borders of a classic desktop frame. The frame a window manager
// draws is known only once the window is shown, and an offscreen or
// client-decorated window has none; the client area is sized from this fixed
// allowance so that the start-up window always ends a little below "Read".
constexpr int kFrameAllowanceX = 6;
constexpr int kFrameAllowanceY = 28;
constexpr int kPortCount = 256;
const char* const kComboPlaceholder = "NULL";

QPixmap ImageFor(ControlImage image)
{
    switch (image) {
    case ControlImage::Logo: return res::Logo();
    case ControlImage::RedDisc: return res::RedDisc();
    case ControlImage::GreenDisc: return res::GreenDisc();
    case ControlImage::None: break;
    }
    return {};
}

// Items a dropped-down list shows when it is `droppedHeight` pixels tall in all.
int VisibleItems(const QComboBox& combo, int droppedHeight)
{
    const int itemHeight = combo.fontMetrics().height() + 2;
    return std::max(1, (droppedHeight - combo.sizeHint().height()) / itemHeight);
}

} // namespace

CReadoutDlg::CReadoutDlg(Port& port, Clock& clock, const PortNames& names, const WindowSettings& settings,
                         std::string logPath, QWidget* parent)
    : QDialog(parent),
      m_units(DialogUnits::ForFont(QApplication::font())),
      m_view(*this, [this](int id) { OnTimer(id); }),
      m_core(port, clock, m_view, names, std::move(logPath)),
      m_lineTest(m_core.serial, m_view),
      m_names(names),
      m_hIcon(res::ProgramIcon()),
      m_posX(settings.posX),
      m_posY(settings.posY),
      m_posDX(settings.posDX),
      m_posDY(settings.posDY),
#ifdef _WIN32
      // Notepad with the log's name as given: the bare "Log1107.txt", found in the
      // folder notepad inherits from us.
      m_openUrl([this](const QUrl&) {
          constexpr int kShowNormal = 1;
          return ShellOpen(QStringLiteral("notepad.exe"),
                           QString::fromLocal8Bit(m_core.rows.LogPath().c_str()), kShowNormal)
                 > 32;
      })
#else
      m_openUrl([](const QUrl& url) { return QDesktopServices::openUrl(url); })
#endif
{
    m_core.serial.m_portIndex = settings.portIndex;

    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromLatin1(kWindowCaption));
    CreateControls();
    OnInitDialog();
}

void CReadoutDlg::SetMessageHandler(WidgetView::MessageHandler handler)
{
    m_view.SetMessageHandler(std::move(handler));
}

void CReadoutDlg::CreateControls()
{
    resize(m_units.ToPixelsX(kTemplateWidth), m_units.ToPixelsY(kTemplateHeight));
    for (const ControlTemplate& control : kDialogTemplate) {
        QWidget* widget = CreateControl(control);
        widget->setObjectName(control.id != 0 ? QStringLiteral("ctl%1").arg(control.id)
                                              : QString::fromLatin1(control.name));
        // The earlier control of a template lies on top, as the two discs of a
        // pair share one place.
        widget->lower();
        if (control.id != 0)
            m_view.AddControl(control.id, widget);
    }
    m_view.AddControl(IDC_LOGO, findChild<QLabel*>(QStringLiteral("ctlStaticLogo")));
}

QWidget* CReadoutDlg::CreateControl(const ControlTemplate& control)
{
    const QRect rect = m_units.ToPixels(control.x, control.y, control.w, control.h);
    const QString text = QString::fromLatin1(control.text);
    switch (control.kind) {
    case ControlKind::PushButton: {
        auto* button = new QPushButton(text, this);
        button->setAutoDefault(false);
        button->setGeometry(rect);
        if (control.id == IDCANCEL_EXIT)
            connect(button, &QPushButton::clicked, this, &QDialog::reject);
        else if (control.id == IDC_READ)
            connect(button, &QPushButton::clicked, this, &CReadoutDlg::OnRead);
        else if (control.id == IDC_SHOW_LOG)
            connect(button, &QPushButton::clicked, this, &CReadoutDlg::OnShowLog);
        else if (control.id == IDC_TEST)
            connect(button, &QPushButton::clicked, this, &CReadoutDlg::OnTest);
        else if (control.id == IDC_BREAK)
            connect(button, &QPushButton::clicked, this, &CReadoutDlg::OnBreak);
        return button;
    }
    case ControlKind::List: {
        m_list = new ResultListView(this);
        m_rows = new ResultRowModel(m_list);
        m_list->setModel(m_rows);
        m_list->setGeometry(rect);
        m_list->SetErrorHandler(
            [this](const std::string& text) { m_view.ShowMessage(text, MessageIcon::Exclamation); });
        m_view.SetResultList(m_list, m_rows);
        return m_list;
    }
    case ControlKind::Combo: {
        auto* combo = new QComboBox(this);
        combo->addItem(QString::fromLatin1(kComboPlaceholder));
        // The template's height is the dropped-down height; the closed box keeps its own.
        combo->setGeometry(rect.x(), rect.y(), rect.width(), combo->sizeHint().height());
        combo->setMaxVisibleItems(VisibleItems(*combo, rect.height()));
        if (control.id == IDC_PORT)
            connect(combo, &QComboBox::activated, this, &CReadoutDlg::OnPortChange);
        else if (control.id == IDC_INITIAL_BAUD)
            connect(combo, &QComboBox::activated, this, &CReadoutDlg::OnInitialBaudChange);
        return combo;
    }
    case ControlKind::CheckTextLeft: {
        auto* check = new QCheckBox(text, this);
        check->setLayoutDirection(Qt::RightToLeft);
        check->setGeometry(rect);
        connect(check, &QCheckBox::clicked, this,
                control.id == IDC_RTS ? &CReadoutDlg::OnRts : &CReadoutDlg::OnDtr);
        return check;
    }
    case ControlKind::Bitmap: {
        auto* picture = new QLabel(this);
        const QPixmap pixmap = ImageFor(control.image);
        picture->setPixmap(pixmap);
        picture->setGeometry(QRect(rect.topLeft(), pixmap.size()));
        return picture;
    }
    case ControlKind::LabelLeft:
    case ControlKind::LabelRight: break;
    }
    const Qt::Alignment align =
        (control.kind == ControlKind::LabelRight ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop;
    QLabel* label = control.id == IDC_LINK ? (m_link = new CLinkLabel(text, this)) : new QLabel(text, this);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(align);
    label->setGeometry(rect);
    return label;
}

void CReadoutDlg::OnInitDialog()
{
    DoDataExchange(false);
    PlaceWindow();
    setWindowIcon(m_hIcon);
    m_list->AddExtendedStyles();
    m_list->SetUpColumns();
    SetUpLink();
    static_cast<QCheckBox*>(Control(IDC_RTS))->setChecked(true);
    static_cast<QCheckBox*>(Control(IDC_DTR))->setChecked(true);
    FillCombos();
    // The first tab stop takes the focus.
    Control(IDCANCEL_EXIT)->setFocus(Qt::OtherFocusReason);
}

void CReadoutDlg::PlaceWindow()
{
    const QRect read = Control(IDC_READ)->geometry();
    const QRect list = Control(IDC_LIST)->geometry();
    m_posDY = read.y() + read.height() + kMarginBelowRead;
    m_posDX = list.x() + list.width() + kMarginRightOfList;
    m_lineTest.SetLayoutHeight(m_posDY);

    // Never as tall as the line-test row's top, whatever the font.
    const int rowTop = Control(IDC_BREAK)->geometry().y();
    const int clientHeight = std::min(m_posDY - kFrameAllowanceY, rowTop - 1);
    setFixedSize(m_posDX - kFrameAllowanceX, clientHeight);
    // The saved place is taken as it is, also partly off screen; a place on no
    // screen at all (a monitor since unplugged) would leave the window out of reach.
    std::vector<ScreenRect> areas;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect a = screen->availableGeometry();
        areas.push_back({a.x(), a.y(), a.width(), a.height()});
    }
    const ScreenPoint at = StartPosition({m_posX, m_posY}, m_posDX, m_posDY, areas);
    move(at.x, at.y);
}

void CReadoutDlg::SetUpLink()
{
    // The label is the hyperlink control; the desktop it opens the address
    // with is its own (SystemDesktop), replaceable through LinkLabel().
    m_link->SetTargetUrl(QString::fromLatin1(kMakerUrl));
    m_link->SetUnderlineMode(true);
    m_link->SetHandCursor(res::HandCursor());
    m_link->SetFitToText(true);
}

void CReadoutDlg::FillCombos()
{
    auto* port = static_cast<QComboBox*>(Control(IDC_PORT));
    port->clear();
    for (int n = 1; n <= kPortCount; ++n) {
        port->addItem(QStringLiteral("COM%1").arg(n));
        port->setItemData(n - 1, ToDisplay(m_names.DeviceFor(n)), Qt::ToolTipRole);
    }
    SelectPort();

    const auto fill = [this](int id, const auto& items) {
        auto* combo = static_cast<QComboBox*>(Control(id));
        combo->clear();
        for (const char* item : items)
            combo->addItem(QString::fromLatin1(item));
        combo->setCurrentIndex(0);
    };
    fill(IDC_INITIAL_BAUD, kInitialBaudItems);
    fill(IDC_TRANSMIT_BAUD, kTransmitBaudItems);
}

void CReadoutDlg::DoDataExchange(bool fromControls)
{
    auto* port = static_cast<QComboBox*>(Control(IDC_PORT));
    if (fromControls) {
        // A stored index with no item of its own stays until a port is chosen,
        // also through Enter, so that it survives a run in which none was chosen.
        if (port->currentIndex() >= 0)
            m_core.serial.m_portIndex = port->currentIndex();
        port->setToolTip(port->currentData(Qt::ToolTipRole).toString());
    } else {
        SelectPort();
        m_link->PreSubclassWindow();
    }
}

void CReadoutDlg::SelectPort()
{
    auto* port = static_cast<QComboBox*>(Control(IDC_PORT));
    const int index = m_core.serial.m_portIndex;
    port->setCurrentIndex(index >= 0 && index < port->count() ? index : -1);
    // The closed box shows the device behind the chosen name.
    port->setToolTip(port->currentData(Qt::ToolTipRole).toString());
}

void CReadoutDlg::OnRead()
{
    m_lineTest.LeaveLineTest();
    m_core.engine.StartReadout();
}

void CReadoutDlg::OnShowLog()
{
    m_core.rows.CloseLog();
    const QString path = QFileInfo(QString::fromLocal8Bit(m_core.rows.LogPath().c_str())).absoluteFilePath();
    if (m_openUrl(QUrl::fromLocalFile(path)))
        return;
    if (!m_viewer)
        m_viewer = new LogViewer(this);
    m_viewer->ShowFile(path);
}

void CReadoutDlg::OnTest()
{
    m_lineTest.OnTest();
}

void CReadoutDlg::OnBreak()
{
    m_lineTest.OnBreak();
}

void CReadoutDlg::OnRts()
{
    m_lineTest.OnRts();
}

void CReadoutDlg::OnDtr()
{
    m_lineTest.OnDtr();
}

void CReadoutDlg::OnPortChange()
{
    DoDataExchange(true);
}

void CReadoutDlg::OnInitialBaudChange()
{
    const auto* combo = static_cast<QComboBox*>(Control(IDC_INITIAL_BAUD));
    m_view.SetControlText(IDC_BAUD_LABEL, FromDisplay(combo->currentText()));
}

void CReadoutDlg::OnTimer(int id)
{
    switch (id) {
    case TIMER_RECEIVE: m_core.engine.OnReceiveTick(); break;
    case TIMER_LINE_STATUS: m_lineTest.RefreshLineStatus(); break;
    default: break; // no timer of ours: nothing to do
    }
}

void CReadoutDlg::OnOK()
{
    DoDataExchange(true);
    accept();
}

void CReadoutDlg::keyPressEvent(QKeyEvent* event)
{
    // Enter, on the main keys or the keypad, clicks a focused push button and is
    // the OK command anywhere else; no button is the dialog's default.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const auto modifiers = event->modifiers() & ~(Qt::KeypadModifier | Qt::ShiftModifier);
    if (enter && modifiers == Qt::NoModifier) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()))
            button->click();
        else
            OnOK();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CReadoutDlg::paintEvent(QPaintEvent* event)
{
    if (!isMinimized()) {
        QDialog::paintEvent(event);
        return;
    }
    // Where the desktop still paints a minimised window, it gets the icon, centred.
    const int side = style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, this);
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    m_hIcon.paint(&painter, (width() - side + 1) / 2, (height() - side + 1) / 2, side, side);
}

QRect CReadoutDlg::RestoredRect() const
{
    const QRect frame = frameGeometry();
    const QRect client = geometry();
    const QMargins margins(client.left() - frame.left(), client.top() - frame.top(),
                           frame.right() - client.right(), frame.bottom() - client.bottom());
    const bool restored = !(isMinimized() || isMaximized()) || normalGeometry().isEmpty();
    return (restored ? client : normalGeometry()).marginsAdded(margins);
}

void CReadoutDlg::done(int result)
{
    // The place is taken while the window still shows, frame and all.
    const QRect restored = RestoredRect();
    QDialog::done(result);
    OnDestroy(restored);
}

void CReadoutDlg::OnDestroy(const QRect& restoredRect)
{
    if (m_destroyed)
        return;
    m_destroyed = true;
    for (int id : {TIMER_RECEIVE, TIMER_LINE_STATUS})
        m_view.StopTimer(id);
    if (m_onDestroy)
        m_onDestroy(m_core.serial.m_portIndex, restoredRect);
}

} // namespace varnel
