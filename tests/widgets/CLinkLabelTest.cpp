#include "widgets/CLinkLabel.h"

#include <QMouseEvent>
#include <QToolTip>
#include <QtTest>

using varnel::CLinkLabel;

namespace {

const QString kAddress = QStringLiteral("https://varnel.example.org/");
const QString kShown = QStringLiteral("varnel.example.org");
const QString kNoApp = QStringLiteral("There is no application associated\nwith the given filename extension.");

template <typename T> T Col(const char* name) { return *static_cast<T*>(QTest::qData(name, qMetaTypeId<T>())); }

bool Shows(const QImage& image, QRgb colour)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x)
            if (rgb.pixel(x, y) == colour)
                return true;
    return false;
}

QString Box(const QString& reason)
{
    return QStringLiteral("%1|CLinkLabelTest|Unable to open hyperlink:\n\n%2").arg(QMessageBox::Warning).arg(reason);
}

// A label in a window, its desktop recording what it is asked for and answering as told.
struct Rig {
    explicit Rig(const QString& text = kShown) : label(text, &window)
    {
        label.SetDesktop({[this](const QUrl& url) { return opened << url, openerTakes; }, [this] { return browser; },
                          [this](const QString& program, const QStringList& arguments) {
                              return started << (QStringList{program} + arguments).join('|'), programStarts;
                          },
                          [this](QMessageBox::Icon icon, const QString& caption, const QString& text, QWidget*) {
                              boxes << QStringLiteral("%1|%2|%3").arg(icon).arg(caption, text);
                          },
                          [this] { ++beeps; }});
    }
    // p press, r release, o release off the label, d the second press of a double click.
    void Mouse(const QString& gesture, Qt::MouseButton button = Qt::LeftButton)
    {
        for (QChar c : gesture) {
            const auto type = c == 'p' ? QEvent::MouseButtonPress
                              : c == 'd' ? QEvent::MouseButtonDblClick : QEvent::MouseButtonRelease;
            const QPointF at = c == 'o' ? QPointF(-3, -3) : QPointF(label.rect().center());
            QMouseEvent event(type, at, label.mapToGlobal(at), button,
                              type == QEvent::MouseButtonRelease ? Qt::NoButton : button, Qt::NoModifier);
            QCoreApplication::sendEvent(&label, &event);
        }
    }
    QString ToolTipAtCentre()
    {
        QHelpEvent hover(QEvent::ToolTip, label.rect().center(), label.mapToGlobal(label.rect().center()));
        QCoreApplication::sendEvent(&label, &hover);
        return QToolTip::text();
    }

    QWidget window;
    CLinkLabel label;
    bool openerTakes = true, programStarts = true;
    QString browser;
    QList<QUrl> opened;
    QStringList started, boxes;
    int beeps = 0;
};

} // namespace

class CLinkLabelTest : public QObject {
    Q_OBJECT

private slots:
    void errorTexts_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("reason");
        const std::pair<int, const char*> rows[] = {
            {0, "The operating system is out\nof memory or resources."}, {3, "The specified path was not found."},
            {5, "The operating system denied\naccess to the specified file."},
            {8, "There was not enough memory to complete the operation."},
            {11, "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
            {26, "A sharing violation occurred. "}, {27, "The filename association is\nincomplete or invalid."},
            {28, "The DDE transaction could not\nbe completed because the request timed out."},
            {29, "The DDE transaction failed."},
            {30, "The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed."},
            {32, "The specified dynamic-link library was not found."}, {4, "Unknown Error (4) occurred."},
            {33, "Unknown Error (33) occurred."}, {-7, "Unknown Error (-7) occurred."}};
        for (const auto& [code, reason] : rows)
            QTest::addRow("%d", code) << code << QString::fromLatin1(reason);
    }
    void errorTexts()
    {
        Rig rig;
        rig.label.ShowOpenError(Col<int>("code"));
        QCOMPARE(rig.boxes, QStringList{Box(Col<QString>("reason"))});
    }

    // A click hands the address to the desktop, else to $BROWSER's command, else shows a box and beeps.
    void clickOutcome_data()
    {
        QTest::addColumn<bool>("openerTakes");
        QTest::addColumn<QString>("browser");
        QTest::addColumn<bool>("programStarts");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("started"); // the fallback run, arguments joined by '|'
        QTest::addColumn<QString>("reason");  // the box's reason; empty when it opened
        const QString a = kAddress;
        QTest::newRow("desktop takes it") << true << "browser %1" << true << a << "" << "";
        QTest::newRow("quoted placeholder: cut with its quotes, rest dropped")
            << false << "browser.exe -nohome \"%1\" -extra" << true << a << "browser.exe|-nohome|" + a << "";
        QTest::newRow("plain placeholder")
            << false << "browser --new-window %1 --private" << true << a << "browser|--new-window|" + a << "";
        QTest::newRow("no placeholder: whole command kept") << false << "web" << true << a << "web|" + a << "";
        QTest::newRow("quoted program path with a blank")
            << false << "\"/opt/web browser/run\" \"%1\"" << true << a << "/opt/web browser/run|" + a << "";
        QTest::newRow("address with blank and quote stays one argument")
            << false << "web %1" << true << "a b\" --evil" << "web|a b\" --evil" << "";
        QTest::newRow("no fallback") << false << "" << true << a << "" << kNoApp;
        QTest::newRow("nothing before the placeholder") << false << "\"%1\"" << true << a << "" << kNoApp;
        QTest::newRow("fallback does not start")
            << false << "gone %1" << false << a << "gone|" + a << "The specified file was not found.";
    }
    void clickOutcome()
    {
        Rig rig;
        rig.openerTakes = Col<bool>("openerTakes");
        rig.programStarts = Col<bool>("programStarts");
        rig.browser = Col<QString>("browser");
        const QString url = Col<QString>("url"), started = Col<QString>("started"), reason = Col<QString>("reason");
        const bool opens = reason.isEmpty();
        rig.label.PreSubclassWindow();
        rig.label.SetTargetUrl(url);
        rig.label.SetVisitedState(!opens); // so that the colour must change either way
        rig.Mouse("pr");
        QCOMPARE(rig.opened, QList<QUrl>{QUrl(url)});
        QCOMPARE(rig.started, started.isEmpty() ? QStringList() : QStringList{started});
        QCOMPARE(rig.boxes, opens ? QStringList() : QStringList{Box(reason)});
        QCOMPARE(rig.beeps, opens ? 0 : 1);
        const QImage drawn = rig.label.grab().toImage();
        QCOMPARE(Shows(drawn, qRgb(85, 26, 139)), opens); // visited purple
        QCOMPARE(Shows(drawn, qRgb(0, 0, 238)), !opens);  // link blue
    }

    void whatCountsAsAClick_data()
    {
        QTest::addColumn<bool>("attached");
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("gesture");
        QTest::addColumn<int>("opens");
        QTest::newRow("click") << true << int(Qt::LeftButton) << "pr" << 1;
        QTest::newRow("double click opens once") << true << int(Qt::LeftButton) << "prdr" << 1;
        QTest::newRow("released off the label") << true << int(Qt::LeftButton) << "po" << 0;
        QTest::newRow("release without press") << true << int(Qt::LeftButton) << "r" << 0;
        QTest::newRow("right button") << true << int(Qt::RightButton) << "pr" << 0;
        QTest::newRow("not attached yet") << false << int(Qt::LeftButton) << "pr" << 0;
    }
    void whatCountsAsAClick()
    {
        Rig rig;
        if (Col<bool>("attached"))
            rig.label.PreSubclassWindow();
        rig.Mouse(Col<QString>("gesture"), Qt::MouseButton(Col<int>("button")));
        QTEST(int(rig.opened.size()), "opens");
    }

    // From (10, 20) and the text's size plus a slack to offsets from (10, 20) and from the text's size.
    void fitToText_data()
    {
        QTest::addColumn<int>("align");
        QTest::addColumn<QSize>("slack");
        QTest::addColumn<QRect>("expected");
        const int left = Qt::AlignLeft | Qt::AlignTop, centre = Qt::AlignHCenter | Qt::AlignTop;
        const int right = Qt::AlignRight | Qt::AlignTop, rightMiddle = Qt::AlignRight | Qt::AlignVCenter;
        QTest::newRow("left keeps left and top") << left << QSize(40, 10) << QRect(0, 0, 0, 0);
        QTest::newRow("left grows a short label") << left << QSize(-30, -4) << QRect(0, 0, 0, 0);
        QTest::newRow("right keeps right edge") << right << QSize(40, 10) << QRect(40, 0, 0, 0);
        QTest::newRow("centred odd slack keeps a pixel") << centre << QSize(41, 0) << QRect(20, 0, 1, 0);
        QTest::newRow("centred odd overflow halves to zero") << centre << QSize(-5, 0) << QRect(-2, 0, -1, 0);
        QTest::newRow("vertically centred odd overflow") << rightMiddle << QSize(0, -3) << QRect(0, -1, 0, -1);
    }
    void fitToText()
    {
        const QRect e = Col<QRect>("expected");
        Rig rig;
        rig.label.setAlignment(Qt::Alignment(Col<int>("align")));
        const QSize text = rig.label.fontMetrics().size(0, kShown);
        rig.label.setGeometry(QRect(QPoint(10, 20), text + Col<QSize>("slack")));
        rig.label.PreSubclassWindow();
        QCOMPARE(rig.label.geometry(), QRect(10 + e.x(), 20 + e.y(), text.width() + e.width(), text.height() + e.height()));
    }

    void attach_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("before"); // the address set before attaching
        QTest::addColumn<QString>("after");  // and after, as the window does
        QTest::addColumn<QString>("target");
        QTest::newRow("empty text shows the address") << "" << kAddress << "" << kAddress;
        QTest::newRow("no address takes the text") << kShown << "" << "" << kShown;
        QTest::newRow("address after attach") << kShown << "" << kAddress << kAddress;
    }
    void attach()
    {
        const QString text = Col<QString>("text"), after = Col<QString>("after"), target = Col<QString>("target");
        Rig rig(text);
        rig.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        rig.label.SetTargetUrl(Col<QString>("before"));
        rig.label.PreSubclassWindow();
        if (!after.isEmpty()) {
            QCOMPARE(rig.ToolTipAtCentre(), text);
            rig.label.SetTargetUrl(after);
        }
        QCOMPARE(rig.label.text(), text.isEmpty() ? target : text);
        QCOMPARE(rig.label.width(), rig.label.fontMetrics().size(0, rig.label.text()).width());
        QCOMPARE(rig.ToolTipAtCentre(), target);
        QCOMPARE(rig.label.cursor().shape(), Qt::ArrowCursor);
        rig.Mouse("pr");
        QCOMPARE(rig.opened, QList<QUrl>{QUrl(target)});
        QToolTip::hideText();
    }
};

QTEST_MAIN(CLinkLabelTest)
#include "CLinkLabelTest.moc"
