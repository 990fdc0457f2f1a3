// The window in the guest on the kernel's 8250 driver: what its RTS and DTR boxes
// and its line test do to a real UART, read back from the driver and its registers.
#include "ReadoutDlg.h"
#include "core/Clock.h"
#include "core/ControlIds.h"
#include "serial/QtSerialPortBackend.h"

#include <QAbstractButton>
#include <QtTest>

#include <fstream>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace varnel;

class DriverWindowTest : public QObject {
    Q_OBJECT

private slots:
    void boxesAndLineTestOnTheUart()
    {
        // The probe descriptor is opened first, so that its own open raises no line later.
        const int probe = open("/dev/ttyS1", O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(probe >= 0);
        constexpr int kBothLines = TIOCM_RTS | TIOCM_DTR;
        const auto modemLines = [probe] {
            int lines = 0;
            return ioctl(probe, TIOCMGET, &lines) == 0 ? lines & kBothLines : -1;
        };
        const auto lineControlRegister = [] { // 0x1A: 7 bits, even parity, one stop bit; 0x40: break
            off_t base = 0;
            std::ifstream("/sys/class/tty/ttyS1/port") >> std::hex >> base; // "0x2f8"
            const int fd = open("/dev/port", O_RDONLY | O_CLOEXEC);
            unsigned char lcr = 0;
            const bool ok = pread(fd, &lcr, 1, base + 3) == 1;
            close(fd); // a failed open leaves -1, which pread and close refuse harmlessly
            return ok ? lcr : -1;
        };
        // The window with the real backend on COM2, which is /dev/ttyS1 by default.
        QtSerialPortBackend port;
        SystemClock clock;
        PortNames names;
        WindowSettings settings{1};
        CReadoutDlg dlg{port, clock, names, settings, "Log1107.txt"};
        // The window has nothing to say to a user here: any message is a failure.
        dlg.SetMessageHandler([](const std::string& text, MessageIcon) { QFAIL(text.c_str()); });
        dlg.show();
        const auto click = [&dlg](int id) { static_cast<QAbstractButton*>(dlg.Control(id))->click(); };
        const auto shown = [&dlg](int id) { return dlg.Control(id)->isVisible(); };
        click(IDC_TEST);
        QCOMPARE(modemLines(), kBothLines);
        for (const auto& [id, line] : {std::pair{IDC_RTS, TIOCM_RTS}, std::pair{IDC_DTR, TIOCM_DTR}}) {
            click(id);
            QCOMPARE(modemLines(), kBothLines & ~line);
            click(id);
            QCOMPARE(modemLines(), kBothLines);
        }
        // An unchecked box keeps its line lowered through the next open.
        click(IDC_RTS);
        click(IDC_TEST);
        QCOMPARE(modemLines(), TIOCM_DTR);

        // The line test, reopened just now: its line settings and RxD, TxD.
        QCOMPARE(lineControlRegister() & 0x3F, 0x1A);
        // Three refreshes on a quiet line: red throughout.
        for (int i = 0; i < 30; ++i) {
            QTest::qWait(50);
            QVERIFY2(!shown(IDC_RXD_GREEN) && shown(IDC_RXD_RED), "RxD green without a break");
        }
        // The host sends a break when asked by a request file in the shared results folder (the current
        // directory), and removes the file when done.
        std::ofstream("request.new") << "break\n";
        QVERIFY(QFile::rename("request.new", "request"));
        QTRY_VERIFY_WITH_TIMEOUT(access("request", F_OK) != 0, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(shown(IDC_RXD_GREEN) && !shown(IDC_RXD_RED), 10000);
        // A later refresh without a new break goes back to red.
        QTRY_VERIFY_WITH_TIMEOUT(!shown(IDC_RXD_GREEN) && shown(IDC_RXD_RED), 10000);

        click(IDC_BREAK);
        QCOMPARE(lineControlRegister() & 0x40, 0x40);
        QVERIFY(shown(IDC_TXD_GREEN) && !shown(IDC_TXD_RED));
        click(IDC_BREAK);
        QCOMPARE(lineControlRegister() & 0x40, 0);
        QVERIFY(!shown(IDC_TXD_GREEN) && shown(IDC_TXD_RED));
    }
};

QTEST_MAIN(DriverWindowTest)
#include "DriverWindowTest.moc"
