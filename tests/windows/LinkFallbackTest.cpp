// The link label on Windows: ShellExecute first, then the ".htm" class's open command from the registry
// (set here with reg.exe, as an installer would), run with WinExec; the error box names the system's code.
#include "TempDir.h"
#include "widgets/CLinkLabel.h"

#include <QtTest>

namespace {

// No protocol handler knows this scheme, so the shell refuses it and the fallback runs.
const QString kAddress = QStringLiteral("varnel-none://varnel.example.org/");

void Reg(const QStringList& args)
{
    QCOMPARE(QProcess::execute(QStringLiteral("reg"), args), 0);
}

} // namespace

class LinkFallbackTest : public QObject {
    Q_OBJECT

private slots:
    void fallback_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("ran");
        QTest::addColumn<QString>("box");
        const QString quoted = '"' + QDir::toNativeSeparators(QStringLiteral(VARNEL_RECORDER)) + '"';
        QTest::newRow("quoted placeholder, the rest dropped")
            << quoted + " -nohome \"%1\" -new" << quoted + " -nohome  " + kAddress << QString();
        QTest::newRow("browser gone")
            << "C:\\nowhere\\browser.exe \"%1\"" << QString() << "The specified file was not found.";
        QTest::newRow("no class for .htm")
            << QString() << QString()
            << "There is no application associated\nwith the given filename extension.";
    }
    void fallback()
    {
        QFETCH(QString, command);
        QFETCH(QString, ran);
        QFETCH(QString, box);
        const QString record = QDir::temp().filePath(QStringLiteral("varnel-link-record.txt"));
        QFile::remove(record);
        qputenv("VARNEL_RECORD", QDir::toNativeSeparators(record).toLocal8Bit());
        const QString classes = QStringLiteral("HKLM\\Software\\Classes\\");
        QProcess::execute(QStringLiteral("reg"), {"delete", classes + ".htm", "/f"});
        if (!command.isEmpty()) {
            Reg({"add", classes + ".htm", "/ve", "/d", "VarnelTest.Page", "/f"});
            Reg({"add", classes + "VarnelTest.Page\\shell\\open\\command", "/ve", "/d", command, "/f"});
        }

        varnel::CLinkLabel label;
        varnel::LinkLabelDesktop desktop = varnel::SystemDesktop();
        QString shown;
        desktop.showMessage = [&](QMessageBox::Icon, const QString&, const QString& text, QWidget*) {
            shown = text;
        };
        desktop.beep = [] {};
        label.SetDesktop(desktop);
        const int code = label.OpenTarget(kAddress);
        if (code <= 32)
            label.ShowOpenError(code);

        QCOMPARE(shown, box.isEmpty() ? QString() : "Unable to open hyperlink:\n\n" + box);
        // The browser runs on its own: wait for what it recorded.
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(varnel::test::ReadFileBytes(record.toStdString())),
                                  ran, 20000);
    }
};

QTEST_MAIN(LinkFallbackTest)
#include "LinkFallbackTest.moc"
