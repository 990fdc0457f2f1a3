#include "widgets/CLinkLabel.h"

#include <QHelpEvent>
#include <QImage>
#include <QMouseEvent>
#include <QToolTip>
#include <QtTest>

#include <algorithm>
#include <utility>

using varnel::CLinkLabel;
using varnel::LinkLabelDesktop;

namespace {

const QString kAddress = QStringLiteral("https://varnel.example.org/");
const QString kShown = QStringLiteral("varnel.example.org");
const QColor kLinkBlue(0, 0, 238);
const QColor kVisitedPurple(85, 26, 139);

// Stands in for the desktop: records what the label asks for, answers as told.
struct FakeDesktop {
    struct Box {
        QMessageBox::Icon icon;
        QString caption, text;
    };

    bool openerTakes = false;
    bool programStarts = true;
    QString browser;
    QList<QUrl> opened;
    QList<QStringList> started;
    QList<Box> boxes;
    int beeps = 0;

    void AttachTo(CLinkLabel& label)
    {
        LinkLabelDesktop desktop;
        desktop.openUrl = [this](const QUrl& url) {
            opened << url;
            return openerTakes;
        };
        desktop.browserCommand = [this] { return browser; };
        desktop.startProgram = [this](const QString& program, const QStringList& arguments) {
            started << (QStringList{program} + arguments);
            return programStarts;
        };
        desktop.showMessage = [this](QMessageBox::Icon icon, const QString& caption, const QString& text, QWidget*) {
            boxes << Box{icon, caption, text};
        };
        desktop.beep = [this] { ++beeps; };
        label.SetDesktop(desktop);
    }
};

int CountPixels(const QImage& image, const QColor& colour)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32); // rows of 32-bit pixels, no padding
    const auto* pixels = reinterpret_cast<const QRgb*>(rgb.constBits());
    return int(std::count(pixels, pixels + rgb.width() * rgb.height(), colour.rgb()));
}

QString ToolTipShownAtCentre(QWidget& widget)
{
    const QPoint centre = widget.rect().center();
    QHelpEvent hover(QEvent::ToolTip, centre, widget.mapToGlobal(centre));
    QCoreApplication::sendEvent(&widget, &hover);
    return QToolTip::text();
}

struct OpenCase {
    bool openerTakes;
    QString browser;
    bool programStarts;
    QString url;
    QStringList run; // the fallback started, if any
    int code;
};

} // namespace

Q_DECLARE_METATYPE(OpenCase)

class CLinkLabelTest : public QObject {
    Q_OBJECT

    QWidget m_window;

private slots:
    void errorBoxTexts_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        const std::pair<int, const char*> rows[] = {
            {0, "The operating system is out\nof memory or resources."},
            {2, "The specified file was not found."},
            {3, "The specified path was not found."},
            {5, "The operating system denied\naccess to the specified file."},
            {8, "There was not enough memory to complete the operation."},
            {11, "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
            {26, "A sharing violation occurred. "},
            {27, "The filename association is\nincomplete or invalid."},
            {28, "The DDE transaction could not\nbe completed because the request timed out."},
            {29, "The DDE transaction failed."},
            {30, "The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed."},
            {31, "There is no application associated\nwith the given filename extension."},
            {32, "The specified dynamic-link library was not found."},
            {4, "Unknown Error (4) occurred."},
            {33, "Unknown Error (33) occurred."},
            // Taken as unsigned for the look-up, so no negative code hits a known row.
            {-2147483646, "Unknown Error (-2147483646) occurred."},
        };
        for (const auto& [code, message] : rows)
            QTest::addRow("%d", code) << code << QString::fromLatin1(message);
    }

    void errorBoxTexts()
    {
        QFETCH(int, code);
        QFETCH(QString, message);
        FakeDesktop desktop;
        CLinkLabel label(kShown, &m_window);
        desktop.AttachTo(label);

        label.ShowOpenError(code);

        QCOMPARE(desktop.boxes.size(), 1);
        QCOMPARE(desktop.boxes[0].text, "Unable to open hyperlink:\n\n" + message);
        QCOMPARE(desktop.boxes[0].caption, QStringLiteral("CLinkLabelTest"));
        QCOMPARE(desktop.boxes[0].icon, QMessageBox::Warning);
    }

    void openTarget_data()
    {
        QTest::addColumn<OpenCase>("c");
        const int opened = CLinkLabel::kOpened, none = CLinkLabel::kNoAssociation;
        QTest::newRow("desktop opener takes it, no fallback")
            << OpenCase{true, "browser %1", true, kAddress, {}, opened};
        QTest::newRow("quoted placeholder: cut with its quotes, rest dropped") << OpenCase{
            false, "browser.exe -nohome \"%1\" -extra", true, kAddress, {"browser.exe", "-nohome", kAddress}, opened};
        QTest::newRow("plain placeholder") << OpenCase{false, "browser --new-window %1 --private", true, kAddress,
                                                       {"browser", "--new-window", kAddress}, opened};
        QTest::newRow("no placeholder: whole command kept")
            << OpenCase{false, "browser.exe", true, kAddress, {"browser.exe", kAddress}, opened};
        QTest::newRow("quoted program path with a blank") << OpenCase{
            false, "\"/opt/web browser/run\" \"%1\"", true, kAddress, {"/opt/web browser/run", kAddress}, opened};
        QTest::newRow("address with blank and quote stays one argument")
            << OpenCase{false, "browser %1", true, "a b\" --evil", {"browser", "a b\" --evil"}, opened};
        QTest::newRow("no fallback command") << OpenCase{false, "", true, kAddress, {}, none};
        QTest::newRow("fallback with nothing before the placeholder")
            << OpenCase{false, "\"%1\"", true, kAddress, {}, none};
        QTest::newRow("fallback program does not start") << OpenCase{
            false, "missing-browser %1", false, kAddress, {"missing-browser", kAddress}, CLinkLabel::kFileNotFound};
    }

    void openTarget()
    {
        QFETCH(OpenCase, c);
        FakeDesktop desktop;
        desktop.openerTakes = c.openerTakes;
        desktop.browser = c.browser;
        desktop.programStarts = c.programStarts;
        CLinkLabel label(kShown, &m_window);
        desktop.AttachTo(label);

        QCOMPARE(label.OpenTarget(c.url), c.code);
        QCOMPARE(desktop.opened, QList<QUrl>{QUrl(c.url)});
        QCOMPARE(desktop.started, c.run.isEmpty() ? QList<QStringList>{} : QList<QStringList>{c.run});
    }

    void clickTurnsPurpleOnlyOnSuccess()
    {
        FakeDesktop desktop;
        CLinkLabel label(kShown, &m_window);
        desktop.AttachTo(label);
        QTest::mouseClick(&label, Qt::LeftButton);
        QVERIFY2(desktop.opened.isEmpty(), "clicks count only once attached");

        label.PreSubclassWindow();
        label.SetTargetUrl(kAddress);
        QVERIFY(CountPixels(label.grab().toImage(), kLinkBlue) > 0);

        desktop.openerTakes = true;
        QTest::mouseClick(&label, Qt::LeftButton);
        QCOMPARE(desktop.opened, QList<QUrl>{QUrl(kAddress)});
        QVERIFY(desktop.boxes.isEmpty());
        QCOMPARE(desktop.beeps, 0);
        const QImage visited = label.grab().toImage();
        QVERIFY(CountPixels(visited, kVisitedPurple) > 0);
        QCOMPARE(CountPixels(visited, kLinkBlue), 0);

        desktop.openerTakes = false;
        QTest::mouseClick(&label, Qt::LeftButton);
        QCOMPARE(desktop.beeps, 1);
        QCOMPARE(desktop.boxes.size(), 1);
        QVERIFY(desktop.boxes[0].text.endsWith("no application associated\nwith the given filename extension."));
        const QImage failed = label.grab().toImage();
        QVERIFY(CountPixels(failed, kLinkBlue) > 0);
        QCOMPARE(CountPixels(failed, kVisitedPurple), 0);
    }

    void doubleClickOpensOnce()
    {
        FakeDesktop desktop;
        desktop.openerTakes = true;
        CLinkLabel label(kShown, &m_window);
        desktop.AttachTo(label);
        label.PreSubclassWindow();
        label.SetTargetUrl(kAddress);
        // What a window system delivers for a double click.
        const QPointF at = label.rect().center();
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                                  QEvent::MouseButtonRelease}) {
            QMouseEvent event(type, at, label.mapToGlobal(at), Qt::LeftButton,
                              type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(&label, &event);
        }
        QCOMPARE(desktop.opened.size(), 1);
    }

    void fitToText_data()
    {
        // The label starts at (10, 20) with the text's size plus a slack; the expected
        // rectangle is given as offsets from (10, 20) and from the text's size.
        QTest::addColumn<int>("align");
        QTest::addColumn<QSize>("slack");
        QTest::addColumn<QRect>("expected");

        const int left = Qt::AlignLeft | Qt::AlignTop;
        const int centre = Qt::AlignHCenter | Qt::AlignTop;
        const int right = Qt::AlignRight | Qt::AlignTop;
        const int rightMiddle = Qt::AlignRight | Qt::AlignVCenter;
        QTest::newRow("left keeps left and top") << left << QSize(40, 10) << QRect(0, 0, 0, 0);
        QTest::newRow("left grows a short label") << left << QSize(-30, -4) << QRect(0, 0, 0, 0);
        QTest::newRow("right keeps right edge") << right << QSize(40, 10) << QRect(40, 0, 0, 0);
        QTest::newRow("centred odd slack keeps a pixel") << centre << QSize(41, 0) << QRect(20, 0, 1, 0);
        QTest::newRow("centred odd overflow halves to zero") << centre << QSize(-5, 0) << QRect(-2, 0, -1, 0);
        QTest::newRow("vertically centred odd overflow") << rightMiddle << QSize(0, -3) << QRect(0, -1, 0, -1);
    }

    void fitToText()
    {
        QFETCH(int, align);
        QFETCH(QSize, slack);
        QFETCH(QRect, expected);
        CLinkLabel label(kShown, &m_window);
        label.setAlignment(Qt::Alignment(align));
        const QSize text = label.fontMetrics().size(0, kShown);
        label.setGeometry(QRect(QPoint(10, 20), text + slack));

        label.PreSubclassWindow();

        QCOMPARE(label.geometry(), QRect(10 + expected.x(), 20 + expected.y(), text.width() + expected.width(),
                                         text.height() + expected.height()));
    }

    void attachAndSetUp_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("windowSetUp"); // the window's calls, after attach
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("target");
        QTest::newRow("empty text shows the address") << "" << kAddress << false << kAddress << kAddress;
        QTest::newRow("no address takes the text") << kShown << "" << false << kShown << kShown;
        QTest::newRow("window: full address in tool tip, hand") << kShown << kAddress << true << kShown << kAddress;
    }

    void attachAndSetUp()
    {
        QFETCH(QString, text);
        QFETCH(QString, address);
        QFETCH(bool, windowSetUp);
        QFETCH(QString, shown);
        QFETCH(QString, target);
        FakeDesktop desktop;
        desktop.openerTakes = true;
        CLinkLabel label(text, &m_window);
        desktop.AttachTo(label);
        m_window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m_window));

        if (!windowSetUp)
            label.SetTargetUrl(address);
        label.PreSubclassWindow();
        if (windowSetUp) {
            QCOMPARE(ToolTipShownAtCentre(label), text);
            label.SetTargetUrl(address);
            label.SetUnderlineMode(true);
            label.SetHandCursor(QCursor(Qt::PointingHandCursor));
            label.SetFitToText(true);
        }

        QCOMPARE(label.text(), shown);
        QCOMPARE(label.width(), label.fontMetrics().size(0, shown).width());
        QCOMPARE(ToolTipShownAtCentre(label), target);
        QCOMPARE(label.cursor().shape(), windowSetUp ? Qt::PointingHandCursor : Qt::ArrowCursor);
        QTest::mouseClick(&label, Qt::LeftButton);
        QCOMPARE(desktop.opened, QList<QUrl>{QUrl(target)});
        QToolTip::hideText();
        m_window.hide();
    }

    void underlineFontIsMadeOnce()
    {
        CLinkLabel label(kShown, &m_window);
        label.PreSubclassWindow();
        const QImage first = label.grab().toImage();
        QFont larger = label.font();
        larger.setPointSize(larger.pointSize() * 3);
        label.setFont(larger);

        QCOMPARE(label.grab().toImage(), first);
        label.SetUnderlineMode(false);
        QVERIFY2(label.grab().toImage() != first, "without underline the new font is used");
    }
};

QTEST_MAIN(CLinkLabelTest)
#include "CLinkLabelTest.moc"
