// The window reading "Varnel.ini" at start and writing it at exit, found through
// XDG_CONFIG_HOME as a user's would be.

#include "FakeClock.h"
#include "FakePort.h"
#include "ReadoutDlg.h"
#include "StartSettings.h"
#include "TempDir.h"
#include "core/ControlIds.h"
#include "widgets/CLinkLabel.h"

#include <QComboBox>
#include <QtTest>

#include <fstream>

using namespace varnel;
using varnel::test::FakeClock;
using varnel::test::FakePort;
using varnel::test::ReadFileBytes;
using varnel::test::TempDir;

class ReadoutDlgSettingsTest : public QObject {
    Q_OBJECT

private:
    // One run of the program: settings in, a window, settings out at exit.
    struct Run {
        Run()
            : settings(LoadStartSettings()), port(&clock),
              dlg(port, clock, settings.names, settings.window, "Log1107.txt")
        {
            dlg.SetMessageHandler([](const std::string&, MessageIcon) {});
            dlg.LinkLabel()->SetDesktop({});
            dlg.SetDestroyHandler([](int portIndex, const QRect& rect) { SaveWindowSettings(portIndex, rect); });
            dlg.show();
        }
        QComboBox* PortCombo() { return dlg.findChild<QComboBox*>(QStringLiteral("ctl%1").arg(IDC_PORT)); }

        StartSettings settings;
        FakeClock clock;
        FakePort port;
        CReadoutDlg dlg;
    };

    std::string Ini() const { return ReadFileBytes(m_dir->File("Varnel/Varnel.ini")); }
    void WriteIni(const std::string& text) const
    {
        std::filesystem::create_directories(m_dir->Path() / "Varnel");
        std::ofstream(m_dir->File("Varnel/Varnel.ini"), std::ios::binary) << text;
    }

    std::unique_ptr<TempDir> m_dir;

private slots:
    void init()
    {
        m_dir = std::make_unique<TempDir>();
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(m_dir->Path().string()));
    }
    void cleanup() { m_dir.reset(); }

    void chosenPortAndPlaceComeBackNextRun();
    void savedPlaceIsRestored_data();
    void savedPlaceIsRestored();
    void portsSectionNamesTheDevices();
};

void ReadoutDlgSettingsTest::chosenPortAndPlaceComeBackNextRun()
{
    int width = 0, height = 0;
    {
        Run first;
        QCOMPARE(first.dlg.frameGeometry().topLeft(), QPoint(100, 100));
        QCOMPARE(first.PortCombo()->currentIndex(), 0);
        first.PortCombo()->setCurrentIndex(2); // the user picks COM3
        emit first.PortCombo()->activated(2);
        first.dlg.move(250, 40);
        width = first.dlg.frameGeometry().width();
        height = first.dlg.frameGeometry().height();
        first.dlg.done(QDialog::Rejected);
    }
    QCOMPARE(QString::fromStdString(Ini()),
             QStringLiteral("[Varnel]\nPortCOM=2\nPosX=250\nPosY=40\nPosDX=%1\nPosDY=%2\n").arg(width).arg(height));

    Run second;
    QCOMPARE(second.PortCombo()->currentIndex(), 2);
    QCOMPARE(second.dlg.Core().serial.m_portIndex, 2);
    QCOMPARE(second.dlg.frameGeometry().topLeft(), QPoint(250, 40));
}

void ReadoutDlgSettingsTest::savedPlaceIsRestored_data()
{
    QTest::addColumn<QString>("ini");
    QTest::addColumn<QPoint>("expected");
    QTest::newRow("partly off the left edge") << "[Varnel]\nPosX=-12\nPosY=30\n" << QPoint(-12, 30);
    QTest::newRow("size keys have no effect") << "[Varnel]\nPosX=120\nPosY=90\nPosDX=1000\nPosDY=50\n"
                                              << QPoint(120, 90);
    QTest::newRow("on no screen at all") << "[Varnel]\nPosX=30000\nPosY=30000\n" << QPoint(100, 100);
    QTest::newRow("corrupt file") << QStringLiteral("[Varnel\nPosX=\x01\x02\nPosY=x\n") << QPoint(100, 100);
}

void ReadoutDlgSettingsTest::savedPlaceIsRestored()
{
    QFETCH(QString, ini);
    QFETCH(QPoint, expected);
    WriteIni(ini.toStdString());
    Run run;
    QCOMPARE(run.dlg.frameGeometry().topLeft(), expected);
    // The size is the layout's, whatever the file says.
    FakeClock clock;
    FakePort port(&clock);
    PortNames names;
    CReadoutDlg firstRun(port, clock, names, WindowSettings{}, "Log1107.txt");
    QCOMPARE(run.dlg.size(), firstRun.size());
    run.dlg.done(QDialog::Rejected);
}

void ReadoutDlgSettingsTest::portsSectionNamesTheDevices()
{
    WriteIni("[Ports]\ncom33=/dev/serial/by-id/usb-Varnel_Probe-if00\n[Varnel]\nPortCOM=32\n");
    Run run;
    QComboBox* combo = run.PortCombo();
    QCOMPARE(combo->currentIndex(), 32);
    QCOMPARE(combo->itemText(32), QStringLiteral("COM33"));
    QCOMPARE(combo->itemData(32, Qt::ToolTipRole).toString(),
             QStringLiteral("/dev/serial/by-id/usb-Varnel_Probe-if00"));
    QCOMPARE(combo->itemData(33, Qt::ToolTipRole).toString(), QStringLiteral("/dev/ttyUSB1"));
    run.dlg.done(QDialog::Rejected);
    // The section is the user's: kept as it was.
    QCOMPARE(Ini().substr(0, 54), std::string("[Ports]\ncom33=/dev/serial/by-id/usb-Varnel_Probe-if00\n"));
}

QTEST_MAIN(ReadoutDlgSettingsTest)
#include "ReadoutDlgSettingsTest.moc"
