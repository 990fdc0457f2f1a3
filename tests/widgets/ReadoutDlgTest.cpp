#include "LogViewer.h"
#include "Window.h"

#include <QCheckBox>
#include <QMessageBox>
#include <QTableView>
#include <QTimer>

#include <fstream>

using namespace varnel;
using test::Col;
using test::Window;

namespace {

QStringList Items(const QComboBox* combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

} // namespace

class ReadoutDlgTest : public QObject {
    Q_OBJECT

    test::TempDir m_dir;
    const std::string m_ini = m_dir.File("Varnel.ini");
    std::string Ini(const std::string& text) const { return std::ofstream(m_ini) << text, m_ini; }
    QString Saved() const { return QString::fromStdString(test::ReadFileBytes(m_ini)); }

private slots:
    void startsWithDefaults()
    {
        Window w;
        QCOMPARE(w.dlg.windowTitle(), QStringLiteral("Varnel"));
        const QStringList rates{"300", "600", "1200", "2400", "4800", "9600", "19200", "38400", "57600"};
        QCOMPARE(Items(w.Get<QComboBox>(IDC_INITIAL_BAUD)), QStringList{"Auto (300)"} + rates);
        QCOMPARE(Items(w.Get<QComboBox>(IDC_TRANSMIT_BAUD)), QStringList{"Auto"} + rates);
        QCOMPARE(w.Get<QComboBox>(IDC_INITIAL_BAUD)->currentIndex() + w.Get<QComboBox>(IDC_TRANSMIT_BAUD)->currentIndex(), 0);
        const QStringList ports = Items(w.Get<QComboBox>(IDC_PORT));
        QCOMPARE(ports.mid(0, 2) + ports.mid(254), (QStringList{"COM1", "COM2", "COM255", "COM256"}));
        QVERIFY(w.Get<QCheckBox>(IDC_RTS)->isChecked() && w.Get<QCheckBox>(IDC_DTR)->isChecked());
        QVERIFY(w.port.calls.empty());
        auto* list = w.Get<QTableView>(IDC_LIST);
        QStringList columns;
        for (int c = 0; c < list->model()->columnCount(); ++c)
            columns << list->model()->headerData(c, Qt::Horizontal).toString() + ' ' + QString::number(list->columnWidth(c));
        QCOMPARE(columns, (QStringList{"Data 200", "Code (OBIS) 100", "Value 100"}));
        QVERIFY(list->showGrid() && list->selectionBehavior() == QAbstractItemView::SelectRows);
        QCOMPARE(w.dlg.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint),
                 Qt::WindowMinimizeButtonHint);
        QCOMPARE(w.dlg.windowIcon().availableSizes(), (QList<QSize>{{32, 32}, {16, 16}}));
        // Tab order, from the first stop, which has the focus.
        QList<int> order;
        QWidget* at = w.dlg.focusWidget();
        do {
            if ((at->focusPolicy() & Qt::TabFocus) && at->parentWidget() == &w.dlg)
                order << at->objectName().mid(3).toInt();
        } while ((at = at->nextInFocusChain()) != w.dlg.focusWidget());
        QCOMPARE(order, (QList<int>{IDCANCEL_EXIT, IDC_LIST, IDC_READ, IDC_PORT, IDC_SHOW_LOG, IDC_RTS, IDC_DTR,
                                    IDC_TEST, IDC_BREAK, IDC_INITIAL_BAUD, IDC_TRANSMIT_BAUD}));
    }

    // For the font in use: every text whole, no control over another, the line-test row only after Test.
    void layoutAsSeen()
    {
        Window w;
        QList<QWidget*> shown;
        for (QWidget* c : w.dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (c->isVisibleTo(&w.dlg))
                shown << c;
        std::sort(shown.begin(), shown.end(), [](auto* a, auto* b) { return std::pair(a->y(), a->x()) < std::pair(b->y(), b->x()); });
        QStringList texts;
        for (QWidget* c : shown) {
            const auto* label = qobject_cast<QLabel*>(c);
            const auto* button = qobject_cast<QAbstractButton*>(c);
            const QString text = label ? label->text() : button ? button->text() : QString();
            texts << text;
            QVERIFY2(c->fontMetrics().horizontalAdvance(text) <= c->width(), qPrintable(text));
            for (QWidget* other : shown)
                QVERIFY(other == c || other->geometry() == c->geometry() || !other->geometry().intersects(c->geometry()));
            QVERIFY(c->y() >= w.Get(IDC_BREAK)->y() ? c->y() >= w.dlg.height() : w.dlg.rect().contains(c->geometry()));
        }
        texts.removeAll(QString());
        QCOMPARE(texts, (QStringList{"Baud rate :", "Auto (300)", "FLAG :", "?", "Protocol :", "?", "Description :", "?",
                                     "varnel.example.org", "Port COM no.:", "Read", "Exit", "Show log",
                                     "Initial baudrate:", "Test", "Transmit baudrate:", "Break", "RTS", "DTR", "TxD:",
                                     "RxD:"}));
        const QSize start = w.dlg.size();
        QCOMPARE(w.dlg.maximumSize(), w.dlg.minimumSize());
        for (int id : {IDC_TEST, IDC_TEST, IDC_READ}) {
            w.Click(id);
            QCOMPARE(w.dlg.width(), start.width());
            QVERIFY(w.dlg.height() > start.height());
            for (QWidget* c : shown)
                QVERIFY(w.dlg.rect().contains(c->geometry()));
        }
    }

    // The user picks a rate and a port, moves the window and ends; the next run starts from there.
    void choicesComeBackNextRun()
    {
        std::filesystem::remove(m_ini);
        QSize size;
        {
            Window first(m_ini);
            first.dlg.show();
            QCOMPARE(first.dlg.frameGeometry().topLeft(), QPoint(100, 100));
            auto* rate = first.Get<QComboBox>(IDC_INITIAL_BAUD);
            rate->setFocus();
            QTest::keyClick(rate, Qt::Key_End);
            QCOMPARE(first.Get<QLabel>(IDC_BAUD_LABEL)->text(), QStringLiteral("57600"));
            QTest::keyClick(rate, Qt::Key_Home);
            QCOMPARE(first.Get<QLabel>(IDC_BAUD_LABEL)->text(), QStringLiteral("Auto (300)"));
            first.Click(IDC_READ);
            QCOMPARE(first.port.device, std::string("/dev/ttyS0"));
            first.port.calls.clear();
            auto* port = first.Get<QComboBox>(IDC_PORT);
            port->setFocus();
            QTest::keyClick(port, Qt::Key_Down);
            QTest::keyClick(port, Qt::Key_Down);
            QCOMPARE(port->toolTip(), QStringLiteral("/dev/ttyS2"));
            QVERIFY2(first.port.calls.empty(), "the choice waits for the next Read");
            first.Click(IDC_READ);
            QCOMPARE(first.port.device, std::string("/dev/ttyS2"));
            first.dlg.move(250, 40);
            size = first.dlg.frameGeometry().size();
            first.dlg.done(QDialog::Rejected);
        }
        QCOMPARE(Saved(), QStringLiteral("[Varnel]\nPortCOM=2\nPosX=250\nPosY=40\nPosDX=%1\nPosDY=%2\n")
                              .arg(size.width())
                              .arg(size.height()));
        Window second(m_ini);
        second.dlg.show();
        QCOMPARE(second.Get<QComboBox>(IDC_PORT)->currentIndex(), 2);
        QCOMPARE(second.dlg.frameGeometry().topLeft(), QPoint(250, 40));
    }

    void startsFromTheSettingsFile_data()
    {
        QTest::addColumn<QString>("ini");
        QTest::addColumn<QPoint>("place");
        QTest::addColumn<QString>("port"); // the closed port box: its text and its tool tip, the device
        QTest::newRow("empty") << "" << QPoint(100, 100) << "COM1 /dev/ttyS0";
        QTest::newRow("partly off the left edge") << "[Varnel]\nPosX=-12\nPosY=30\nPortCOM=3\n" << QPoint(-12, 30)
                                                  << "COM4 /dev/ttyS3";
        QTest::newRow("size keys have no effect")
            << "[Varnel]\nPosX=120\nPosY=90\nPosDX=1000\nPosDY=50\n" << QPoint(120, 90) << "COM1 /dev/ttyS0";
        QTest::newRow("on no screen at all") << "[Varnel]\nPosX=30000\nPosY=30000\n" << QPoint(100, 100) << "COM1 /dev/ttyS0";
        QTest::newRow("last port") << "[Varnel]\nPortCOM=255\n" << QPoint(100, 100) << "COM256 ";
        QTest::newRow("port past the list") << "[Varnel]\nPortCOM=256\n" << QPoint(100, 100) << " ";
        QTest::newRow("ports section names the devices")
            << "[Ports]\ncom33=/dev/serial/by-id/usb-Varnel_Probe-if00\n[Varnel]\nPortCOM=32\n" << QPoint(100, 100)
            << "COM33 /dev/serial/by-id/usb-Varnel_Probe-if00";
    }
    void startsFromTheSettingsFile()
    {
        Window w(Ini(Col<QString>("ini").toStdString()));
        w.dlg.show();
        QCOMPARE(w.dlg.frameGeometry().topLeft(), Col<QPoint>("place"));
        QCOMPARE(w.dlg.size(), Window().dlg.size());
        const QComboBox* port = w.Get<QComboBox>(IDC_PORT);
        QCOMPARE(port->currentText() + ' ' + port->toolTip(), Col<QString>("port"));
    }

    void lineTestThroughTheWindow()
    {
        Window w;
        w.Click(IDC_TEST);
        w.port.breakSeen = BreakSeen::Unsupported;
        w.dlg.OnTimer(TIMER_LINE_STATUS);
        QCOMPARE(w.Get(IDC_RXD_RED)->toolTip(), QStringLiteral("This port cannot report breaks on RxD"));
        w.Click(IDC_BREAK);
        QVERIFY(w.Get(IDC_TXD_GREEN)->isVisibleTo(&w.dlg));
        QCOMPARE(w.Get<QLabel>(IDC_TXD_GREEN)->pixmap().toImage().pixelColor(8, 8), QColor(Qt::green));
        QCOMPARE(w.Get<QLabel>(IDC_RXD_RED)->pixmap().toImage().pixelColor(8, 8), QColor(Qt::red));
        w.port.calls.clear();
        w.Click(IDC_READ);
        QVERIFY(!w.dlg.Widgets().TimerRunning(TIMER_LINE_STATUS) && w.dlg.Widgets().TimerRunning(TIMER_RECEIVE));
        for (int id : {IDC_TXD_RED, IDC_TXD_GREEN, IDC_RXD_RED, IDC_RXD_GREEN})
            QCOMPARE(w.Get(id)->isVisibleTo(&w.dlg), id == IDC_TXD_RED || id == IDC_RXD_RED);
        QCOMPARE(w.port.CallsStartingWith("open "),
                 std::vector<std::string>{"open /dev/ttyS0 300 7E1 rts=1 dtr=1 flow=0000000"});
        QCOMPARE(std::string(w.port.written.begin(), w.port.written.end()), std::string("/?!\r\n"));
    }

    void showLogClosesTheLogAndOpensIt_data()
    {
        QTest::addColumn<bool>("desktopOpensIt");
        QTest::newRow("desktop viewer") << true;
        QTest::newRow("own viewer") << false;
    }
    void showLogClosesTheLogAndOpensIt()
    {
        Window w;
        w.openerTakes = Col<bool>("desktopOpensIt");
        w.dlg.OnRead();
        w.Click(IDC_SHOW_LOG);
        QVERIFY(!w.dlg.Core().rows.IsLogOpen());
        QCOMPARE(w.opened, QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(w.dir.File("Log1107.txt")))});
        const LogViewer* viewer = w.dlg.Viewer();
        QCOMPARE(viewer && viewer->isVisible() ? viewer->windowTitle() + '|' + viewer->toPlainText() : QString(),
                 w.openerTakes ? QString() : QStringLiteral("Log1107.txt|==> /?!<0D><0A>\n"));
        QCOMPARE(test::ReadFileBytes(w.dir.File("Log1107.txt")), std::string("==> /?!<0D><0A>\r\n"));
    }

    void keysAndCloseBoxEndTheWindow_data()
    {
        QTest::addColumn<int>("focus");
        QTest::addColumn<int>("key"); // 0: the close box
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("result");
        const int none = Qt::NoModifier, ok = QDialog::Accepted, cancel = QDialog::Rejected;
        QTest::newRow("Enter on Exit") << int(IDCANCEL_EXIT) << int(Qt::Key_Return) << none << cancel;
        QTest::newRow("Escape") << int(IDCANCEL_EXIT) << int(Qt::Key_Escape) << none << cancel;
        QTest::newRow("Enter on the port box") << int(IDC_PORT) << int(Qt::Key_Return) << none << ok;
        QTest::newRow("Shift+Enter on the list") << int(IDC_LIST) << int(Qt::Key_Return) << int(Qt::ShiftModifier) << ok;
        QTest::newRow("keypad Enter on RTS") << int(IDC_RTS) << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << ok;
        QTest::newRow("Escape on the list") << int(IDC_LIST) << int(Qt::Key_Escape) << none << cancel;
        QTest::newRow("close box") << int(IDCANCEL_EXIT) << 0 << none << cancel;
    }
    // The stored port is past the list: a run without a choice must save it as it was.
    void keysAndCloseBoxEndTheWindow()
    {
        Window w(Ini("[Varnel]\nPortCOM=256\n"));
        w.dlg.open();
        QVERIFY(QTest::qWaitForWindowExposed(&w.dlg));
        QWidget* target = w.Get(Col<int>("focus"));
        target->setFocus();
        if (const int key = Col<int>("key"))
            QTest::keyClick(target, Qt::Key(key), Qt::KeyboardModifiers(Col<int>("modifiers")));
        else
            w.dlg.close();
        QVERIFY(!w.dlg.isVisible());
        QVERIFY2(w.port.calls.empty(), "Enter must never start a readout off a push button");
        QTEST(w.dlg.result(), "result");
        QCOMPARE(w.exits, 1);
        QVERIFY(Saved().startsWith("[Varnel]\nPortCOM=256\nPosX=100\nPosY=100\n"));
    }

    void messageBoxCaptionedWithProgramName()
    {
        Window w({}, true);
        w.port.failOpen = true;
        QStringList boxes;
        QTimer closer; // notes each box as soon as it runs, then closes it
        connect(&closer, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                boxes << QStringLiteral("%1|%2|%3").arg(box->windowTitle(), box->text()).arg(box->icon()), box->accept();
        });
        closer.start(10);
        w.Click(IDC_BREAK);
        QCOMPARE(boxes, QStringList{QStringLiteral("ReadoutDlgTest|Open port COM error|%1").arg(QMessageBox::Critical)});
    }
};

QTEST_MAIN(ReadoutDlgTest)
#include "ReadoutDlgTest.moc"
