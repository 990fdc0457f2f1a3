#include "FakeClock.h"
#include "FakePort.h"
#include "LogViewer.h"
#include "ReadoutDlg.h"
#include "ResultList.h"
#include "TempDir.h"
#include "core/ControlIds.h"
#include "widgets/CLinkLabel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <optional>

using namespace varnel;
using varnel::test::FakeClock;
using varnel::test::FakePort;
using varnel::test::ReadFileBytes;
using varnel::test::TempDir;

namespace {

// One window on a fake port, with every desktop seam recorded instead of shown.
struct Harness {
    explicit Harness(const WindowSettings& settings = {})
        : port(&clock), dlg(port, clock, names, settings, dir.File("Log1107.txt"))
    {
        dlg.SetMessageHandler([this](const std::string& text, MessageIcon icon) {
            messages.push_back(QString::fromStdString(text));
            icons.push_back(icon);
        });
        dlg.SetUrlOpener([this](const QUrl& url) {
            opened.push_back(url);
            return openerTakesIt;
        });
        dlg.SetDestroyHandler([this](int portIndex, const QRect& rect) {
            ++destroyCalls;
            savedPort = portIndex;
            savedRect = rect;
        });
        dlg.LinkLabel()->SetDesktop({});
    }

    template <typename T = QWidget> T* Get(int id) const
    {
        return dlg.findChild<T*>(QStringLiteral("ctl%1").arg(id));
    }
    QString Text(int id) const { return Get<QLabel>(id)->text(); }
    QComboBox* Combo(int id) const { return Get<QComboBox>(id); }
    // The rows of the list, column 0.
    QStringList RowTexts() const
    {
        QStringList out;
        for (int r = 0; r < dlg.Rows()->rowCount(); ++r)
            out << dlg.Rows()->Text(r, 0);
        return out;
    }
    void Tick()
    {
        clock.Advance(50);
        dlg.OnTimer(TIMER_RECEIVE);
    }

    TempDir dir;
    FakeClock clock;
    FakePort port;
    PortNames names;
    QStringList messages;
    std::vector<MessageIcon> icons;
    std::vector<QUrl> opened;
    bool openerTakesIt = true;
    int destroyCalls = 0;
    std::optional<int> savedPort;
    QRect savedRect;
    CReadoutDlg dlg;
};

std::string Block(const std::string& lines)
{
    std::string b = "\x02" + lines + "\x03";
    char bcc = 0;
    for (std::size_t i = 1; i < b.size(); ++i)
        bcc = static_cast<char>(bcc ^ b[i]);
    return b + bcc;
}

// Where a control is on screen relative to the window's client area.
int Bottom(const QWidget* w)
{
    return w->geometry().y() + w->geometry().height();
}

const int kLineTestRow[] = {IDC_BREAK, IDC_RTS, IDC_DTR, IDC_TXD_RED, IDC_TXD_GREEN, IDC_RXD_RED,
                            IDC_RXD_GREEN};

} // namespace

class ReadoutDlgTest : public QObject {
    Q_OBJECT

private slots:
    void firstStartWithoutSettings();
    void controlsOfTheTemplate_data();
    void controlsOfTheTemplate();
    void tabOrderFollowsTheTemplate();
    void portComboFromStoredIndex_data();
    void portComboFromStoredIndex();
    void storedPortSurvivesARunWithoutChoice_data();
    void storedPortSurvivesARunWithoutChoice();
    void baudCombosHoldTheirItems();
    void initialBaudChoiceShowsInLabel();
    void portChoiceWaitsForTheNextRead();
    void readLeavesLineTestAndStartsReadout();
    void timerDispatchesById_data();
    void timerDispatchesById();
    void showLogClosesTheLogAndOpensIt_data();
    void showLogClosesTheLogAndOpensIt();
    void keysAndCloseBoxEndTheWindow_data();
    void keysAndCloseBoxEndTheWindow();
    void lineTestRowHiddenUntilTest();
    void messageBoxCaptionedWithProgramName();
};

void ReadoutDlgTest::firstStartWithoutSettings()
{
    Harness h;
    QCOMPARE(h.dlg.pos(), QPoint(100, 100));
    QCOMPARE(h.dlg.windowTitle(), QStringLiteral("Varnel"));
    QCOMPARE(h.Combo(IDC_PORT)->currentText(), QStringLiteral("COM1"));
    QCOMPARE(h.Combo(IDC_INITIAL_BAUD)->currentIndex(), 0);
    QCOMPARE(h.Combo(IDC_TRANSMIT_BAUD)->currentIndex(), 0);
    QCOMPARE(h.Text(IDC_BAUD_LABEL), QStringLiteral("Auto (300)"));
    for (int id : {IDC_PROTOCOL_LABEL, IDC_FLAG_LABEL, IDC_DESCRIPTION_LABEL})
        QCOMPARE(h.Text(id), QStringLiteral("?"));
    QVERIFY(h.Get<QCheckBox>(IDC_RTS)->isChecked());
    QVERIFY(h.Get<QCheckBox>(IDC_DTR)->isChecked());
    QVERIFY(h.port.calls.empty());

    // The list: empty under its three headers, grid lines, whole rows selected.
    auto* list = h.Get<QTableView>(IDC_LIST);
    QCOMPARE(list->model()->rowCount(), 0);
    const QStringList headers{"Data", "Code (OBIS)", "Value"};
    const int widths[] = {200, 100, 100};
    QCOMPARE(list->model()->columnCount(), 3);
    for (int c = 0; c < 3; ++c) {
        QCOMPARE(list->model()->headerData(c, Qt::Horizontal).toString(), headers[c]);
        QCOMPARE(list->columnWidth(c), widths[c]);
    }
    QVERIFY(list->showGrid());
    QCOMPARE(list->selectionBehavior(), QAbstractItemView::SelectRows);

    // Fixed size, minimise but no maximise, the program icon in both sizes.
    QCOMPARE(h.dlg.minimumSize(), h.dlg.maximumSize());
    QVERIFY(h.dlg.windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(!(h.dlg.windowFlags() & Qt::WindowMaximizeButtonHint));
    const auto sizes = h.dlg.windowIcon().availableSizes();
    QVERIFY(sizes.contains(QSize(16, 16)) && sizes.contains(QSize(32, 32)));

    QCOMPARE(h.dlg.focusWidget(), h.Get(IDCANCEL_EXIT));
    QCOMPARE(h.dlg.LinkLabel()->text(), QStringLiteral("varnel.example.org"));
}

void ReadoutDlgTest::controlsOfTheTemplate_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("units");
    QTest::addColumn<bool>("tabStop");

    const auto row = [](const char* name, const char* cls, const char* text, QRect units, bool tab) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(cls)
                            << QString::fromLatin1(text) << units << tab;
    };
    row("ctl2", "QPushButton", "Exit", {66, 288, 50, 36}, true);
    row("ctl1000", "QTableView", "", {6, 54, 306, 222}, true);
    row("ctl1004", "QPushButton", "Read", {12, 288, 50, 36}, true);
    row("ctl1006", "QComboBox", "", {254, 282, 56, 0}, true);
    row("ctlStaticPort", "QLabel", "Port COM no.:", {180, 285, 72, 8}, false);
    row("ctlStaticBaudRate", "QLabel", "Baud rate :", {12, 6, 45, 8}, false);
    row("ctl1014", "QLabel", "Auto (300)", {61, 6, 53, 8}, false);
    row("ctlStaticProtocol", "QLabel", "Protocol :", {12, 30, 45, 8}, false);
    row("ctl1015", "QLabel", "?", {61, 30, 53, 8}, false);
    row("ctlStaticFlag", "QLabel", "FLAG :", {12, 18, 45, 8}, false);
    row("ctl1016", "QLabel", "?", {61, 18, 53, 8}, false);
    row("ctlStaticDescription", "QLabel", "Description :", {12, 42, 45, 8}, false);
    row("ctl1017", "QLabel", "?", {61, 42, 101, 8}, false);
    row("ctlStaticLogo", "QLabel", "", {204, 6, 0, 0}, false);
    row("ctl1039", "varnel::CLinkLabel", "varnel.example.org", {204, 42, 0, 0}, false);
    row("ctl1005", "QPushButton", "Show log", {120, 288, 50, 18}, true);
    row("ctl1041", "QCheckBox", "RTS", {210, 336, 29, 10}, true);
    row("ctl1042", "QCheckBox", "DTR", {246, 336, 29, 10}, true);
    row("ctl1007", "QPushButton", "Test", {120, 312, 50, 12}, true);
    row("ctl1008", "QPushButton", "Break", {12, 336, 48, 18}, true);
    row("ctl1043", "QLabel", "", {100, 340, 0, 0}, false);
    row("ctlStaticTxd", "QLabel", "TxD:", {78, 342, 16, 8}, false);
    row("ctl1045", "QLabel", "", {152, 340, 0, 0}, false);
    row("ctlStaticRxd", "QLabel", "RxD:", {130, 342, 17, 8}, false);
    row("ctl1044", "QLabel", "", {100, 340, 0, 0}, false);
    row("ctl1046", "QLabel", "", {152, 340, 0, 0}, false);
    row("ctl1009", "QComboBox", "", {254, 296, 56, 0}, true);
    row("ctlStaticInitialBaud", "QLabel", "Initial baudrate:", {180, 299, 72, 8}, false);
    row("ctl1010", "QComboBox", "", {254, 310, 56, 0}, true);
    row("ctlStaticTransmitBaud", "QLabel", "Transmit baudrate:", {180, 313, 72, 8}, false);
}

// A zero width or height in `units` marks a size the control takes from its
// content (pictures, the fitted link, a closed combo box).
void ReadoutDlgTest::controlsOfTheTemplate()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, text);
    QFETCH(QRect, units);
    QFETCH(bool, tabStop);

    Harness h;
    const DialogUnits& du = h.dlg.Units();
    auto* w = h.dlg.findChild<QWidget*>(name);
    QVERIFY(w);
    QVERIFY2(w->inherits(className.toLatin1()), w->metaObject()->className());
    if (auto* label = qobject_cast<QLabel*>(w); label && label->pixmap().isNull())
        QCOMPARE(label->text(), text);
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        QCOMPARE(button->text(), text);
    QCOMPARE(w->geometry().topLeft(), QPoint(du.ToPixelsX(units.x()), du.ToPixelsY(units.y())));
    if (units.width() > 0)
        QCOMPARE(w->width(), du.ToPixelsX(units.width()));
    if (units.height() > 0)
        QCOMPARE(w->height(), du.ToPixelsY(units.height()));
    QCOMPARE(bool(w->focusPolicy() & Qt::TabFocus), tabStop);
}

void ReadoutDlgTest::tabOrderFollowsTheTemplate()
{
    Harness h;
    const QList<int> expected{IDCANCEL_EXIT, IDC_LIST,  IDC_READ,  IDC_PORT, IDC_SHOW_LOG,
                              IDC_RTS,       IDC_DTR,   IDC_TEST,  IDC_BREAK, IDC_INITIAL_BAUD,
                              IDC_TRANSMIT_BAUD};
    QList<int> order;
    QWidget* start = h.Get(IDCANCEL_EXIT);
    QWidget* w = start;
    do {
        if ((w->focusPolicy() & Qt::TabFocus) && w->parentWidget() == &h.dlg)
            order << w->objectName().mid(3).toInt();
        w = w->nextInFocusChain();
    } while (w != start);
    QCOMPARE(order, expected);
}

void ReadoutDlgTest::portComboFromStoredIndex_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("selected");
    QTest::newRow("first") << 0 << 0;
    QTest::newRow("COM256") << 255 << 255;
    QTest::newRow("one past the end") << 256 << -1;
    QTest::newRow("negative") << -1 << -1;
}

void ReadoutDlgTest::portComboFromStoredIndex()
{
    QFETCH(int, stored);
    QFETCH(int, selected);
    WindowSettings settings;
    settings.portIndex = stored;
    Harness h(settings);
    QComboBox* port = h.Combo(IDC_PORT);
    QCOMPARE(port->count(), 256);
    QCOMPARE(port->itemText(0), QStringLiteral("COM1"));
    QCOMPARE(port->itemText(255), QStringLiteral("COM256"));
    QCOMPARE(port->currentIndex(), selected);
    QCOMPARE(h.dlg.Core().serial.m_portIndex, stored);
    // Each item names its device in its tool tip.
    QCOMPARE(port->itemData(0, Qt::ToolTipRole).toString(), QStringLiteral("/dev/ttyS0"));
    QCOMPARE(port->itemData(32, Qt::ToolTipRole).toString(), QStringLiteral("/dev/ttyUSB0"));
    QCOMPARE(port->itemData(95, Qt::ToolTipRole).toString(), QStringLiteral("/dev/ttyACM31"));
    QCOMPARE(port->itemData(96, Qt::ToolTipRole).toString(), QString());
}

void ReadoutDlgTest::storedPortSurvivesARunWithoutChoice_data()
{
    QTest::addColumn<bool>("byEnter");
    QTest::newRow("Exit") << false;
    QTest::newRow("Enter on the list") << true;
}

void ReadoutDlgTest::storedPortSurvivesARunWithoutChoice()
{
    QFETCH(bool, byEnter);
    WindowSettings settings;
    settings.portIndex = 256;
    Harness h(settings);
    h.dlg.show();
    if (byEnter) {
        h.Get(IDC_LIST)->setFocus();
        QTest::keyClick(h.Get(IDC_LIST), Qt::Key_Return);
    } else {
        h.Get<QPushButton>(IDCANCEL_EXIT)->click();
    }
    QCOMPARE(h.destroyCalls, 1);
    QCOMPARE(h.savedPort, std::optional<int>(256));
}

void ReadoutDlgTest::baudCombosHoldTheirItems()
{
    Harness h;
    const auto items = [&](int id) {
        QStringList out;
        for (int i = 0; i < h.Combo(id)->count(); ++i)
            out << h.Combo(id)->itemText(i);
        return out;
    };
    QCOMPARE(items(IDC_INITIAL_BAUD), (QStringList{"Auto (300)", "300", "600", "1200", "2400", "4800",
                                                   "9600", "19200", "38400", "57600"}));
    QCOMPARE(items(IDC_TRANSMIT_BAUD), (QStringList{"Auto", "300", "600", "1200", "2400", "4800", "9600",
                                                    "19200", "38400", "57600"}));
}

void ReadoutDlgTest::initialBaudChoiceShowsInLabel()
{
    Harness h;
    QComboBox* combo = h.Combo(IDC_INITIAL_BAUD);
    combo->setFocus();
    for (int i = 0; i < 6; ++i)
        QTest::keyClick(combo, Qt::Key_Down);
    QCOMPARE(combo->currentText(), QStringLiteral("9600"));
    QCOMPARE(h.Text(IDC_BAUD_LABEL), QStringLiteral("9600"));
    QVERIFY(h.port.calls.empty());
    for (int i = 0; i < 6; ++i)
        QTest::keyClick(combo, Qt::Key_Up);
    QCOMPARE(h.Text(IDC_BAUD_LABEL), QStringLiteral("Auto (300)"));
}

void ReadoutDlgTest::portChoiceWaitsForTheNextRead()
{
    Harness h;
    h.Get<QPushButton>(IDC_READ)->click();
    QCOMPARE(h.port.device, std::string("/dev/ttyS0"));
    h.port.calls.clear();

    QComboBox* port = h.Combo(IDC_PORT);
    port->setFocus();
    QTest::keyClick(port, Qt::Key_Down);
    QTest::keyClick(port, Qt::Key_Down);
    QCOMPARE(h.dlg.Core().serial.m_portIndex, 2);
    QCOMPARE(port->toolTip(), QStringLiteral("/dev/ttyS2"));
    QVERIFY2(h.port.calls.empty(), h.port.calls.front().c_str());

    h.Get<QPushButton>(IDC_READ)->click();
    QCOMPARE(h.port.device, std::string("/dev/ttyS2"));
}

void ReadoutDlgTest::readLeavesLineTestAndStartsReadout()
{
    Harness h;
    h.Get<QPushButton>(IDC_BREAK)->click();
    QCOMPARE(h.dlg.Core().serial.m_breakOn, 1);
    QVERIFY(h.Get(IDC_TXD_GREEN)->isVisibleTo(&h.dlg));
    QVERIFY(h.dlg.Widgets().TimerRunning(TIMER_LINE_STATUS));

    h.port.calls.clear();
    h.Get<QPushButton>(IDC_READ)->click();
    QVERIFY(!h.dlg.Widgets().TimerRunning(TIMER_LINE_STATUS));
    QVERIFY(h.dlg.Widgets().TimerRunning(TIMER_RECEIVE));
    QCOMPARE(h.dlg.Core().serial.m_testMode, 0);
    QCOMPARE(h.dlg.Core().serial.m_breakOn, 0);
    for (int id : {IDC_TXD_RED, IDC_RXD_RED})
        QVERIFY(h.Get(id)->isVisibleTo(&h.dlg));
    for (int id : {IDC_TXD_GREEN, IDC_RXD_GREEN})
        QVERIFY(!h.Get(id)->isVisibleTo(&h.dlg));
    const auto opens = h.port.CallsStartingWith("open ");
    QCOMPARE(opens.size(), std::size_t(1));
    QCOMPARE(QString::fromStdString(opens[0]), QStringLiteral("open /dev/ttyS0 300 7E1 rts=1 dtr=1 flow=0000000"));
    QCOMPARE(std::string(h.port.written.begin(), h.port.written.end()), std::string("/?!\r\n"));

    // The meter answers; rows, columns and labels reach the widgets.
    h.port.written.clear();
    h.port.Feed("/ABC5\\2XYZ\r\n");
    h.Tick();
    QCOMPARE(h.Text(IDC_FLAG_LABEL), QStringLiteral("ABC"));
    QCOMPARE(h.Text(IDC_DESCRIPTION_LABEL), QStringLiteral("XYZ"));
    QCOMPARE(h.Text(IDC_PROTOCOL_LABEL), QStringLiteral("E"));
    QCOMPARE(h.Text(IDC_BAUD_LABEL), QStringLiteral("9600"));
    h.port.Feed(Block("1.8.0(012.5*kWh)\r\n!\r\n"));
    h.Tick();
    QCOMPARE(h.RowTexts(), (QStringList{"/ABC5\\2XYZ", " -- STX -- ", "1.8.0(012.5*kWh)", "!",
                                         " -- ETX -- ", " -- BCC -- "}));
    QCOMPARE(h.dlg.Rows()->Text(2, 1), QStringLiteral("1.8.0"));
    QCOMPARE(h.dlg.Rows()->Text(2, 2), QStringLiteral("012.5"));
}

void ReadoutDlgTest::timerDispatchesById_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<bool>("reads");
    QTest::addColumn<bool>("asksLineStatus");
    QTest::newRow("receive") << int(TIMER_RECEIVE) << true << false;
    QTest::newRow("line status") << int(TIMER_LINE_STATUS) << false << true;
    QTest::newRow("other") << 4242 << false << false;
}

void ReadoutDlgTest::timerDispatchesById()
{
    QFETCH(int, id);
    QFETCH(bool, reads);
    QFETCH(bool, asksLineStatus);
    Harness h;
    h.dlg.OnRead();
    h.port.calls.clear();
    const std::size_t readsBefore = h.port.readCalls;
    const QStringList rowsBefore = h.RowTexts();
    h.clock.Advance(50);
    h.dlg.OnTimer(id);
    QCOMPARE(h.port.readCalls > readsBefore, reads);
    QCOMPARE(!h.port.CallsStartingWith("breakseen").empty(), asksLineStatus);
    QCOMPARE(h.dlg.Widgets().TimerRunning(TIMER_LINE_STATUS), asksLineStatus);
    QCOMPARE(h.RowTexts(), rowsBefore);
}

void ReadoutDlgTest::showLogClosesTheLogAndOpensIt_data()
{
    QTest::addColumn<bool>("desktopOpensIt");
    QTest::newRow("desktop viewer") << true;
    QTest::newRow("own viewer") << false;
}

void ReadoutDlgTest::showLogClosesTheLogAndOpensIt()
{
    QFETCH(bool, desktopOpensIt);
    Harness h;
    h.openerTakesIt = desktopOpensIt;
    h.dlg.OnRead();
    QVERIFY(h.dlg.Core().rows.IsLogOpen());

    h.Get<QPushButton>(IDC_SHOW_LOG)->click();
    QVERIFY(!h.dlg.Core().rows.IsLogOpen());
    QCOMPARE(h.opened.size(), std::size_t(1));
    QCOMPARE(h.opened[0], QUrl::fromLocalFile(QString::fromStdString(h.dir.File("Log1107.txt"))));
    QCOMPARE(h.dlg.Viewer() != nullptr, !desktopOpensIt);
    if (!desktopOpensIt) {
        QVERIFY(h.dlg.Viewer()->isVisible());
        QVERIFY(h.dlg.Viewer()->isReadOnly());
        QCOMPARE(h.dlg.Viewer()->toPlainText(), QStringLiteral("==> /?!<0D><0A>\n"));
        QCOMPARE(h.dlg.Viewer()->windowTitle(), QStringLiteral("Log1107.txt"));
    }
    // The file is left as it was: closed, complete, CR LF on disk.
    QCOMPARE(ReadFileBytes(h.dir.File("Log1107.txt")), std::string("==> /?!<0D><0A>\r\n"));
}

void ReadoutDlgTest::keysAndCloseBoxEndTheWindow_data()
{
    QTest::addColumn<int>("focusId");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("modifiers");
    const int none = Qt::NoModifier;
    QTest::newRow("Enter on Exit") << int(IDCANCEL_EXIT) << int(Qt::Key_Return) << int(QDialog::Rejected) << none;
    QTest::newRow("Escape") << int(IDCANCEL_EXIT) << int(Qt::Key_Escape) << int(QDialog::Rejected) << none;
    QTest::newRow("Enter on the port combo") << int(IDC_PORT) << int(Qt::Key_Return) << int(QDialog::Accepted)
                                             << none;
    QTest::newRow("keypad Enter on RTS") << int(IDC_RTS) << int(Qt::Key_Enter) << int(QDialog::Accepted)
                                         << int(Qt::KeypadModifier);
    QTest::newRow("keypad Enter on the port combo")
        << int(IDC_PORT) << int(Qt::Key_Enter) << int(QDialog::Accepted) << int(Qt::KeypadModifier);
    QTest::newRow("Escape on the list") << int(IDC_LIST) << int(Qt::Key_Escape) << int(QDialog::Rejected) << none;
    QTest::newRow("close box") << int(IDCANCEL_EXIT) << 0 << int(QDialog::Rejected) << none;
}

void ReadoutDlgTest::keysAndCloseBoxEndTheWindow()
{
    QFETCH(int, focusId);
    QFETCH(int, key);
    QFETCH(int, result);
    QFETCH(int, modifiers);
    Harness h;
    h.dlg.open();
    QVERIFY(QTest::qWaitForWindowExposed(&h.dlg));
    QWidget* target = h.Get(focusId);
    target->setFocus();
    if (key == 0)
        h.dlg.close();
    else
        QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QVERIFY(!h.dlg.isVisible());
    QVERIFY2(h.port.calls.empty(), "Enter must never start a readout off a push button");
    QCOMPARE(h.dlg.result(), result);
    QCOMPARE(h.destroyCalls, 1);
    QCOMPARE(h.savedPort, std::optional<int>(0));
    QCOMPARE(h.savedRect.topLeft(), QPoint(100, 100));
}

void ReadoutDlgTest::lineTestRowHiddenUntilTest()
{
    Harness h;
    const QRect read = h.Get(IDC_READ)->geometry();
    const QRect list = h.Get(IDC_LIST)->geometry();
    QCOMPARE(h.dlg.LayoutHeight(), Bottom(h.Get(IDC_READ)) + 40);
    QCOMPARE(h.dlg.LayoutWidth(), list.x() + list.width() + 20);

    // Everything down to Read and Exit shows, the line-test row does not.
    const int startHeight = h.dlg.height();
    const int startWidth = h.dlg.width();
    QVERIFY(startHeight > Bottom(h.Get(IDC_READ)));
    QCOMPARE(Bottom(h.Get(IDC_READ)), Bottom(h.Get(IDCANCEL_EXIT)));
    QVERIFY(startWidth >= list.x() + list.width());
    for (int id : kLineTestRow)
        QVERIFY2(h.Get(id)->geometry().y() >= startHeight, qPrintable(QString::number(id)));
    QVERIFY(read.y() > Bottom(h.Get(IDC_LIST)));

    // Test brings the row into view; again, the size stays; Read keeps it.
    h.Get<QPushButton>(IDC_TEST)->click();
    QCOMPARE(h.dlg.height(), h.dlg.LayoutHeight() + 50);
    QCOMPARE(h.dlg.width(), startWidth);
    for (int id : kLineTestRow)
        QVERIFY2(Bottom(h.Get(id)) <= h.dlg.height(), qPrintable(QString::number(id)));
    h.Get<QPushButton>(IDC_TEST)->click();
    QCOMPARE(h.dlg.height(), h.dlg.LayoutHeight() + 50);
    h.Get<QPushButton>(IDC_READ)->click();
    QCOMPARE(h.dlg.height(), h.dlg.LayoutHeight() + 50);
    QCOMPARE(h.dlg.minimumSize(), h.dlg.maximumSize());
}

void ReadoutDlgTest::messageBoxCaptionedWithProgramName()
{
    FakeClock clock;
    FakePort port(&clock);
    port.failOpen = true;
    PortNames names;
    TempDir dir;
    CReadoutDlg dlg(port, clock, names, {}, dir.File("Log1107.txt"));
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int boxes = 0;
    // Closes each box as soon as it runs, after noting what it shows.
    QTimer closer;
    connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            ++boxes;
            caption = box->windowTitle();
            text = box->text();
            icon = box->icon();
            box->accept();
        }
    });
    closer.start(10);
    static_cast<QPushButton*>(dlg.Control(IDC_BREAK))->click();
    QCOMPARE(boxes, 1);
    QCOMPARE(caption, QStringLiteral("ReadoutDlgTest"));
    QCOMPARE(text, QStringLiteral("Open port COM error"));
    QCOMPARE(icon, QMessageBox::Critical);
}

QTEST_MAIN(ReadoutDlgTest)
#include "ReadoutDlgTest.moc"
