// The window, on the real serial backend, reading the simulated meter on a
// pseudo-terminal: what a user sees after pressing Read.

#include "TempDir.h"

#include "PtyMeter.h"
#include "ReadoutDlg.h"
#include "ResultList.h"
#include "core/Clock.h"
#include "core/ControlIds.h"
#include "serial/QtSerialPortBackend.h"
#include "widgets/CLinkLabel.h"

#include <QLabel>
#include <QtTest>

using namespace varnel;

class ReadoutDlgMeterTest : public QObject {
    Q_OBJECT

private slots:
    void readPressedReadsTheMeterIntoListLabelsAndLog();
};

void ReadoutDlgMeterTest::readPressedReadsTheMeterIntoListLabelsAndLog()
{
    sim::MeterConfig config;
    config.identification = "/XYZ4\\2E-Meter 7";
    config.lines = {"0.0.0(87654321)", "1.8.0(000042.1*kWh)", "1.8.0*01(000040.0*kWh)", "32.7(231*V)", ""};
    sim::PtyMeter meter(config);
    std::string error;
    QCOMPARE(meter.Start(error), sim::PtyMeter::StartResult::Ok);

    test::TempDir dir;
    PortNames names;
    names.SetMapping(5, meter.DevicePath());
    QtSerialPortBackend port;
    SystemClock clock;
    WindowSettings settings;
    settings.portIndex = 4; // COM5, mapped to the meter
    CReadoutDlg dlg(port, clock, names, settings, dir.File("Log1107.txt"));
    QStringList messages;
    dlg.SetMessageHandler([&](const std::string& text, MessageIcon) { messages << QString::fromStdString(text); });
    dlg.LinkLabel()->SetDesktop({});
    dlg.show();

    dlg.OnRead();
    QTRY_COMPARE_WITH_TIMEOUT(dlg.Core().engine.State(), READ_IDLE, 30000);
    QVERIFY2(messages.isEmpty(), qPrintable(messages.join('\n')));
    QCOMPARE(dlg.Core().engine.LastEnd(), ReadoutEnd::BlockCheck);

    QStringList rows, labels;
    for (int r = 0; r < dlg.Rows()->RowsAdded(); ++r)
        rows << QStringList{dlg.Rows()->Text(r, 0), dlg.Rows()->Text(r, 1), dlg.Rows()->Text(r, 2)}.join('|');
    QCOMPARE(rows, (QStringList{"/XYZ4\\2E-Meter 7||", " -- STX -- ||", "0.0.0(87654321)|0.0.0|87654321",
                                "1.8.0(000042.1*kWh)|1.8.0|000042.1", "1.8.0*01(000040.0*kWh)|1.8.0*01|000040.0",
                                "32.7(231*V)|32.7|231", "||", "!||", " -- ETX -- ||", " -- BCC -- ||"}));
    for (const int id : {IDC_BAUD_LABEL, IDC_PROTOCOL_LABEL, IDC_FLAG_LABEL, IDC_DESCRIPTION_LABEL})
        labels << dlg.findChild<QLabel*>(QStringLiteral("ctl%1").arg(id))->text();
    QCOMPARE(labels, (QStringList{"4800", "E", "XYZ", "E-Meter 7"}));
    QCOMPARE(QByteArray::fromStdString(test::ReadFileBytes(dir.File("Log1107.txt"))),
             QByteArray("==> /?!<0D><0A>\r\n<== /XYZ4\\2E-Meter 7\r\n==> <06>040<0D><0A>\r\n<==  -- STX -- \r\n"
                        "<== 0.0.0(87654321)\r\n<== 1.8.0(000042.1*kWh)\r\n<== 1.8.0*01(000040.0*kWh)\r\n"
                        "<== 32.7(231*V)\r\n<== \r\n<== !\r\n<==  -- ETX -- \r\n<==  -- BCC -- \r\n"));

    QVERIFY(meter.WaitForReports(1, std::chrono::seconds(10)));
    const sim::ReadoutReport report = meter.Reports().at(0);
    QCOMPARE(report.acknowledgement, std::string("\x06" "040\r\n"));
    QCOMPARE(report.readerBaudAtData, 4800);
    dlg.done(QDialog::Rejected);
}

QTEST_MAIN(ReadoutDlgMeterTest)
#include "ReadoutDlgMeterTest.moc"
