#include "widgets/CLinkLabel.h"

#include <QHelpEvent>
#include <QImage>
#include <QToolTip>
#include <QMouseEvent>
#include <QtTest>

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
        QString caption;
        QString text;
    };

    bool openerTakes = false;
    QString browser;
    bool programStarts = true;
    QList<QUrl> opened;
    QList<QStringList> started;
    QList<Box> boxes;
    int beeps = 0;

    LinkLabelDesktop Make()
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
        desktop.showMessage = [this](QMessageBox::Icon icon, const QString& caption,
                                     const QString& text, QWidget*) {
            boxes << Box{icon, caption, text};
        };
        desktop.beep = [this] { ++beeps; };
        return desktop;
    }
};

int CountPixels(const QImage& image, const QColor& colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += image.pixelColor(x, y).rgb() == colour.rgb() ? 1 : 0;
        }
    }
    return count;
}

QString ToolTipShownAtCentre(QWidget& widget)
{
    const QPoint centre = widget.rect().center();
    QHelpEvent hover(QEvent::ToolTip, centre, widget.mapToGlobal(centre));
    QCoreApplication::sendEvent(&widget, &hover);
    return QToolTip::text();
}

} // namespace

class CLinkLabelTest : public QObject {
    Q_OBJECT

private slots:
    void errorBoxTexts_data();
    void errorBoxTexts();
    void openTarget_data();
    void openTarget();
    void clickTurnsPurpleOnlyOnSuccess();
    void doubleClickOpensOnce();
    void fitToText_data();
    void fitToText();
    void attachSettlesTextAndAddress_data();
    void attachSettlesTextAndAddress();
    void windowSetUpShowsFullAddressAndHand();
    void underlineFontIsMadeOnce();

private:
    QWidget m_window;
    FakeDesktop m_desktop;
};

void CLinkLabelTest::errorBoxTexts_data()
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
        {30, "The DDE transaction could not\nbe completed because other DDE transactions\n"
             "were being processed."},
        {31, "There is no application associated\nwith the given filename extension."},
        {32, "The specified dynamic-link library was not found."},
        {4, "Unknown Error (4) occurred."},
        {33, "Unknown Error (33) occurred."},
        // Taken as unsigned for the look-up, so no negative code hits a known row.
        {-2147483646, "Unknown Error (-2147483646) occurred."},
    };
    for (const auto& [code, message] : rows) {
        QTest::addRow("%d", code) << code << QString::fromLatin1(message);
    }
}

void CLinkLabelTest::errorBoxTexts()
{
    QFETCH(int, code);
    QFETCH(QString, message);
    FakeDesktop desktop;
    CLinkLabel label(kShown, &m_window);
    label.SetDesktop(desktop.Make());

    label.ShowOpenError(code);

    QCOMPARE(desktop.boxes.size(), 1);
    QCOMPARE(desktop.boxes[0].text, "Unable to open hyperlink:\n\n" + message);
    QCOMPARE(desktop.boxes[0].caption, QStringLiteral("CLinkLabelTest"));
    QCOMPARE(desktop.boxes[0].icon, QMessageBox::Warning);
}

void CLinkLabelTest::openTarget_data()
{
    QTest::addColumn<bool>("openerTakes");
    QTest::addColumn<QString>("browser");
    QTest::addColumn<bool>("programStarts");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QStringList>("expectedRun");
    QTest::addColumn<int>("expectedCode");

    const int opened = CLinkLabel::kOpened;
    QTest::newRow("desktop opener takes it, no fallback")
        << true << "browser.exe %1" << true << kAddress << QStringList{} << opened;
    QTest::newRow("quoted placeholder: cut with its quotes, rest dropped")
        << false << R"(browser.exe -nohome "%1" -extra)" << true << kAddress
        << QStringList{"browser.exe", "-nohome", kAddress} << opened;
    QTest::newRow("plain placeholder")
        << false << "browser --new-window %1 --private" << true << kAddress
        << QStringList{"browser", "--new-window", kAddress} << opened;
    QTest::newRow("no placeholder: whole command kept")
        << false << "browser.exe" << true << kAddress << QStringList{"browser.exe", kAddress}
        << opened;
    QTest::newRow("quoted program path with a blank")
        << false << R"("/opt/web browser/run" "%1")" << true << kAddress
        << QStringList{"/opt/web browser/run", kAddress} << opened;
    QTest::newRow("address with blank and quote stays one argument")
        << false << "browser %1" << true << R"(a b" --evil)"
        << QStringList{"browser", R"(a b" --evil)"} << opened;
    QTest::newRow("no fallback command")
        << false << "" << true << kAddress << QStringList{} << CLinkLabel::kNoAssociation;
    QTest::newRow("fallback with nothing before the placeholder")
        << false << R"("%1")" << true << kAddress << QStringList{} << CLinkLabel::kNoAssociation;
    QTest::newRow("fallback program does not start")
        << false << "missing-browser %1" << false << kAddress
        << QStringList{"missing-browser", kAddress} << CLinkLabel::kFileNotFound;
}

void CLinkLabelTest::openTarget()
{
    QFETCH(bool, openerTakes);
    QFETCH(QString, browser);
    QFETCH(bool, programStarts);
    QFETCH(QString, url);
    QFETCH(QStringList, expectedRun);
    QFETCH(int, expectedCode);
    FakeDesktop desktop;
    desktop.openerTakes = openerTakes;
    desktop.browser = browser;
    desktop.programStarts = programStarts;
    CLinkLabel label(kShown, &m_window);
    label.SetDesktop(desktop.Make());

    const int code = label.OpenTarget(url);

    QCOMPARE(code, expectedCode);
    QCOMPARE(desktop.opened, QList<QUrl>{QUrl(url)});
    QCOMPARE(desktop.started,
             expectedRun.isEmpty() ? QList<QStringList>{} : QList<QStringList>{expectedRun});
}

void CLinkLabelTest::clickTurnsPurpleOnlyOnSuccess()
{
    FakeDesktop desktop;
    CLinkLabel label(kShown, &m_window);
    label.SetDesktop(desktop.Make());
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
    QVERIFY(desktop.boxes[0].text.endsWith("There is no application associated\nwith the "
                                           "given filename extension."));
    const QImage failed = label.grab().toImage();
    QVERIFY(CountPixels(failed, kLinkBlue) > 0);
    QCOMPARE(CountPixels(failed, kVisitedPurple), 0);
}

void CLinkLabelTest::doubleClickOpensOnce()
{
    FakeDesktop desktop;
    desktop.openerTakes = true;
    CLinkLabel label(kShown, &m_window);
    label.SetDesktop(desktop.Make());
    label.PreSubclassWindow();
    label.SetTargetUrl(kAddress);
    // What a window system delivers for a double click.
    const QPointF at = label.rect().center();
    const auto send = [&](QEvent::Type type) {
        QMouseEvent event(type, at, label.mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&label, &event);
    };
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                              QEvent::MouseButtonRelease})
        send(type);
    QCOMPARE(desktop.opened.size(), 1);
}

void CLinkLabelTest::fitToText_data()
{
    // Start rectangle: (10, 20) with the text's size plus a slack; expected
    // rectangle as offsets from (10, 20) and from the text's size.
    QTest::addColumn<int>("align");
    QTest::addColumn<bool>("fit");
    QTest::addColumn<QSize>("slack");
    QTest::addColumn<QRect>("expected");

    const int left = Qt::AlignLeft | Qt::AlignTop;
    const int centre = Qt::AlignHCenter | Qt::AlignTop;
    const int right = Qt::AlignRight | Qt::AlignTop;
    const int rightMiddle = Qt::AlignRight | Qt::AlignVCenter;
    QTest::newRow("left keeps left and top") << left << true << QSize(40, 10) << QRect(0, 0, 0, 0);
    QTest::newRow("left grows a short label") << left << true << QSize(-30, -4) << QRect(0, 0, 0, 0);
    QTest::newRow("right keeps right edge") << right << true << QSize(40, 10) << QRect(40, 0, 0, 0);
    QTest::newRow("centred shrinks both sides") << centre << true << QSize(40, 10)
                                                << QRect(20, 0, 0, 0);
    QTest::newRow("centred odd slack keeps a pixel") << centre << true << QSize(41, 0)
                                                     << QRect(20, 0, 1, 0);
    QTest::newRow("centred odd overflow halves toward zero") << centre << true << QSize(-5, 0)
                                                             << QRect(-2, 0, -1, 0);
    QTest::newRow("vertically centred shrinks top and bottom") << rightMiddle << true
                                                               << QSize(0, 10)
                                                               << QRect(0, 5, 0, 0);
    QTest::newRow("vertically centred odd overflow") << rightMiddle << true << QSize(0, -3)
                                                     << QRect(0, -1, 0, -1);
    QTest::newRow("fitting off keeps the rectangle") << centre << false << QSize(40, 10)
                                                     << QRect(0, 0, 40, 10);
}

void CLinkLabelTest::fitToText()
{
    QFETCH(int, align);
    QFETCH(bool, fit);
    QFETCH(QSize, slack);
    QFETCH(QRect, expected);
    CLinkLabel label(kShown, &m_window);
    label.setAlignment(Qt::Alignment(align));
    label.SetFitToText(fit);
    const QSize text = label.fontMetrics().size(0, kShown);
    label.setGeometry(QRect(QPoint(10, 20), text + slack));

    label.PreSubclassWindow();

    QCOMPARE(label.geometry(), QRect(10 + expected.x(), 20 + expected.y(),
                                     text.width() + expected.width(),
                                     text.height() + expected.height()));
}

void CLinkLabelTest::attachSettlesTextAndAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("shownText");
    QTest::addColumn<QString>("opened");
    QTest::newRow("empty text shows the address") << "" << kAddress << kAddress << kAddress;
    QTest::newRow("no address takes the text") << kShown << "" << kShown << kShown;
    QTest::newRow("both set are kept") << kShown << kAddress << kShown << kAddress;
}

void CLinkLabelTest::attachSettlesTextAndAddress()
{
    QFETCH(QString, text);
    QFETCH(QString, address);
    QFETCH(QString, shownText);
    QFETCH(QString, opened);
    FakeDesktop desktop;
    desktop.openerTakes = true;
    CLinkLabel label(text, &m_window);
    label.SetDesktop(desktop.Make());
    label.SetTargetUrl(address);

    label.PreSubclassWindow();

    QCOMPARE(label.text(), shownText);
    QCOMPARE(label.width(), label.fontMetrics().size(0, shownText).width());
    QCOMPARE(label.cursor().shape(), Qt::ArrowCursor);
    QTest::mouseClick(&label, Qt::LeftButton);
    QCOMPARE(desktop.opened, QList<QUrl>{QUrl(opened)});
}

void CLinkLabelTest::windowSetUpShowsFullAddressAndHand()
{
    m_window.resize(300, 100);
    CLinkLabel label(kShown, &m_window);
    label.setGeometry(10, 10, 200, 30);
    m_window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&m_window));

    label.PreSubclassWindow();
    QCOMPARE(ToolTipShownAtCentre(label), kShown);
    label.SetTargetUrl(kAddress);
    label.SetUnderlineMode(true);
    label.SetHandCursor(QCursor(Qt::PointingHandCursor));
    label.SetFitToText(true);

    QCOMPARE(label.text(), kShown);
    QCOMPARE(ToolTipShownAtCentre(label), kAddress);
    QCOMPARE(label.cursor().shape(), Qt::PointingHandCursor);
    QToolTip::hideText();
    m_window.hide();
}

void CLinkLabelTest::underlineFontIsMadeOnce()
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

QTEST_MAIN(CLinkLabelTest)
#include "CLinkLabelTest.moc"
