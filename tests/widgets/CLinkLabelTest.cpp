#include "OnScreen.h"
#include "widgets/CLinkLabel.h"

#include <QScreen>
#include <QtTest>

namespace {

const QString kAddress = QStringLiteral("https://varnel.example.org/");
const QString kShown = QStringLiteral("varnel.example.org");

const QString kBox =
    QStringLiteral("box %1 CLinkLabelTest: Unable to open hyperlink:\n\n").arg(QMessageBox::Warning);

// A label whose desktop notes, in order, what it is asked for and answers as told ("gone" never starts).
struct Rig {
    explicit Rig(const QString& text = kShown) : label(text)
    {
        label.SetDesktop(
            {[this](const QUrl& url) { return asked << "open " + url.toString(), openerTakes; },
             [this] { return browser; },
             [this](const QString& program, const QStringList& args) {
                 return asked << "start " + (QStringList{program} + args).join('|'), program != "gone";
             },
             [this](QMessageBox::Icon icon, const QString& caption, const QString& text, QWidget*) {
                 asked << QStringLiteral("box %1 %2: %3").arg(icon).arg(caption, text);
             },
             [this] { asked << "beep"; }});
    }

    varnel::CLinkLabel label;
    bool openerTakes = true;
    QString browser;
    QStringList asked;
};

} // namespace

class CLinkLabelTest : public QObject {
    Q_OBJECT

private slots:
    // Attached, a click opens the address with the desktop, else with $BROWSER's command, else a box explains
    // and it beeps; the label turns purple where it opened.
    void click_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("url"); // set before attaching
        QTest::addColumn<QString>("browser");
        // p press, r release, o release off the label, d the second press of a double click; capitals: right
        QTest::addColumn<QString>("gesture");
        QTest::addColumn<QStringList>("asked"); // the desktop's opener declines where more is asked after it
        const auto row = [](const char* name, const char* browser, const char* gesture,
                            const QStringList& asked, const QString& text = kShown,
                            const QString& url = kAddress) {
            QTest::newRow(name) << text << url << QString::fromLatin1(browser) << QString::fromLatin1(gesture)
                                << asked;
        };
        const QString a = kAddress, open = "open " + a,
                      noApp = kBox + "There is no application associated\nwith the given filename extension.";
        row("desktop takes it", "", "pr", {open});
        row("double click opens once", "", "prdr", {open});
        row("released off the label, then on it", "", "por", {});
        row("the other button at either end", "", "PrpR", {});
        row("empty text shows the address", "", "pr", {open}, "");
        row("no address takes the text", "", "pr", {"open " + kShown}, kShown, "");
        row("quoted placeholder: cut with its quotes, rest dropped", "web -nohome \"%1\" -x", "pr",
            {open, "start web|-nohome|" + a});
        row("plain placeholder", "web --new %1 --private", "pr", {open, "start web|--new|" + a});
        row("no placeholder: whole command kept", "web -a", "pr", {open, "start web|-a|" + a});
        row("nothing before the placeholder", "\"%1\"", "pr", {open, "beep", noApp});
        row("fallback does not start", "gone %1", "pr",
            {open, "start gone|" + a, "beep", kBox + "The specified file was not found."});
    }
    void click()
    {
        QFETCH(QString, text);
        QFETCH(QString, url);
        QFETCH(QString, gesture);
        QFETCH(QStringList, asked);
        Rig rig(text);
        QFETCH(QString, browser);
        rig.browser = browser;
        rig.openerTakes = asked.size() == 1;
        const bool fails = asked.contains("beep"), opens = !asked.isEmpty() && !fails;
        rig.label.SetVisitedState(fails); // so that the colour must change where it is clicked
        rig.label.SetTargetUrl(url);
        rig.label.PreSubclassWindow();
        for (QChar c : gesture)
            QTest::mouseEvent(c.toLower() == 'p'   ? QTest::MousePress
                              : c.toLower() == 'd' ? QTest::MouseDClick
                                                   : QTest::MouseRelease,
                              &rig.label, c.isUpper() ? Qt::RightButton : Qt::LeftButton, {},
                              c == 'o' ? QPoint(-3, -3) : rig.label.rect().center());
        QCOMPARE(rig.label.text(), text.isEmpty() ? url : text);
        QCOMPARE(rig.asked, asked);
        const QImage drawn =
            rig.label.grab().toImage().convertToFormat(QImage::Format_RGB32); // rows without padding
        const auto *px = reinterpret_cast<const QRgb*>(drawn.constBits()),
                   *end = px + drawn.width() * drawn.height();
        QCOMPARE(std::count(px, end, qRgb(85, 26, 139)) > 0, opens); // visited purple
        QCOMPARE(std::count(px, end, qRgb(0, 0, 238)) > 0, !opens);  // link blue
    }

    // The desktop's own box, closed with OK: a click on Linux brings up code 2 (offscreen nothing opens and
    // $BROWSER names no program; Windows' refusals are LinkFallbackTest's), a code of no text its number.
    void errorBox()
    {
        if (QGuiApplication::platformName() != "offscreen")
            QSKIP("a desktop that opens addresses would open the browser");
        varnel::CLinkLabel label(kShown);
        label.PreSubclassWindow();
        qputenv("BROWSER", "varnel-no-such-browser %1");
        const bool click = QSysInfo::productType() != "windows";
        QStringList boxes;
        for (int code : {2, -1})
            boxes << varnel::test::ModalBoxDuring([&label, code, click] {
                code == 2 && click ? QTest::mouseClick(&label, Qt::LeftButton) : label.ShowOpenError(code);
            });
        QCOMPARE(boxes, (QStringList{kBox + "The specified file was not found.",
                                     kBox + "Unknown Error (-1) occurred."}));
    }

    // Over the link: the window's cursor until attached, then the arrow, then the hand it is given; the
    // address as its tip where the label was when attached, where it has grown since none or the window's.
    void hover()
    {
        QWidget window;
        window.setCursor(Qt::WaitCursor);
        auto* label = new varnel::CLinkLabel(QStringLiteral("a"), &window);
        QList<Qt::CursorShape> shapes{label->cursor().shape()};
        label->SetTargetUrl(kAddress);
        label->PreSubclassWindow();
        shapes << label->cursor().shape();
        label->SetHandCursor(QCursor(Qt::PointingHandCursor));
        shapes << label->cursor().shape();
        QCOMPARE(shapes, (QList<Qt::CursorShape>{Qt::WaitCursor, Qt::ArrowCursor, Qt::PointingHandCursor}));
        label->setText(kShown);
        label->FitToText();
        QCOMPARE(varnel::test::ToolTipAt(label, {1, 1}), kAddress);
        window.setToolTip(QStringLiteral("window"));
        QCOMPARE(varnel::test::ToolTipAt(label, {label->width() - 2, 1}), QStringLiteral("window"));
    }

    // On screen, a label turns purple as soon as a click has opened its address.
    void showsTheVisitedLookAtOnce()
    {
        Rig rig;
        rig.label.PreSubclassWindow();
        rig.label.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig.label));
        QCoreApplication::processEvents();
        const QImage before = rig.label.screen()->grabWindow(rig.label.winId()).toImage();
        QTest::mouseClick(&rig.label, Qt::LeftButton);
        QTRY_VERIFY(rig.label.screen()->grabWindow(rig.label.winId()).toImage() != before);
    }

    // From (10, 20) and the text's size plus a slack to offsets from (10, 20) and from the text's size.
    void fitToText()
    {
        const int left = Qt::AlignLeft | Qt::AlignTop, centre = Qt::AlignHCenter | Qt::AlignTop,
                  right = Qt::AlignRight | Qt::AlignVCenter;
        const std::tuple<int, QSize, QRect> rows[] = {
            {left, {40, -4}, {0, 0, 0, 0}},      // keeps left and top
            {centre, {41, 0}, {20, 0, 1, 0}},    // odd slack keeps a pixel
            {right, {40, -3}, {40, -1, 0, -1}}}; // right edge kept; odd overflow down
        for (const auto& [align, slack, e] : rows) {
            Rig rig;
            rig.label.setAlignment(Qt::Alignment(align));
            const QSize text = rig.label.fontMetrics().size(0, kShown);
            rig.label.setGeometry(QRect(QPoint(10, 20), text + slack));
            const bool later = align == left; // fitting switched on after attaching fits at once
            if (later)
                rig.label.SetFitToText(false);
            rig.label.PreSubclassWindow();
            if (later)
                rig.label.SetFitToText(true);
            QCOMPARE(rig.label.geometry(), QRect(QPoint(10, 20) + e.topLeft(), text + e.size()));
        }
    }
};

QTEST_MAIN(CLinkLabelTest)
#include "CLinkLabelTest.moc"
