#include "widgets/CLinkLabel.h"

#include <QtTest>

using varnel::CLinkLabel;

namespace {

const QString kAddress = QStringLiteral("https://varnel.example.org/");
const QString kShown = QStringLiteral("varnel.example.org");
const QString kNoApp = QStringLiteral("There is no application associated\nwith the given filename extension.");

template <typename T> T Col(const char* name) { return *static_cast<T*>(QTest::qData(name, qMetaTypeId<T>())); }

bool Shows(const QImage& image, QRgb colour)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32); // rows without padding
    const auto* pixels = reinterpret_cast<const QRgb*>(rgb.constBits());
    return std::count(pixels, pixels + rgb.width() * rgb.height(), colour) > 0;
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
    // p press, r release, o release off the label, d the second press of a double click; capitals: right button.
    void Mouse(const QString& gesture)
    {
        for (QChar c : gesture)
            QTest::mouseEvent(c.toLower() == 'p'   ? QTest::MousePress
                              : c.toLower() == 'd' ? QTest::MouseDClick : QTest::MouseRelease,
                              &label, c.isUpper() ? Qt::RightButton : Qt::LeftButton, {},
                              c == 'o' ? QPoint(-3, -3) : label.rect().center());
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
    // The address goes to the desktop, else to $BROWSER's command, else a box explains and it beeps.
    void clickOutcome_data()
    {
        QTest::addColumn<bool>("openerTakes");
        QTest::addColumn<QString>("browser");
        QTest::addColumn<bool>("programStarts");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("started"); // the fallback run, arguments joined by '|'
        QTest::addColumn<QString>("reason");  // the box's; empty when the address was taken
        const QString a = kAddress;
        QTest::newRow("desktop takes it") << true << "web %1" << true << a << "" << "";
        QTest::newRow("quoted placeholder: cut with its quotes, rest dropped")
            << false << "web.exe -nohome \"%1\" -extra" << true << a << "web.exe|-nohome|" + a << "";
        QTest::newRow("plain placeholder") << false << "web --new %1 --private" << true << a << "web|--new|" + a << "";
        QTest::newRow("no placeholder: whole command kept") << false << "web -a" << true << a << "web|-a|" + a << "";
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
        QCOMPARE(rig.boxes.join(""), opens ? "" : QStringLiteral("%1|CLinkLabelTest|Unable to open hyperlink:\n\n")
                                                       .arg(QMessageBox::Warning) + reason);
        QCOMPARE(rig.beeps, opens ? 0 : 1);
        const QImage drawn = rig.label.grab().toImage();
        QCOMPARE(Shows(drawn, qRgb(85, 26, 139)), opens); // visited purple
        QCOMPARE(Shows(drawn, qRgb(0, 0, 238)), !opens);  // link blue
    }

    void unknownErrorCode()
    {
        Rig rig;
        rig.label.ShowOpenError(4);
        QCOMPARE(rig.boxes.join(""), QStringLiteral("2|CLinkLabelTest|Unable to open hyperlink:\n\nUnknown Error (4) occurred."));
    }

    void whatCountsAsAClick_data()
    {
        QTest::addColumn<QString>("gesture");
        QTest::addColumn<int>("opens");
        QTest::newRow("click") << "pr" << 1;
        QTest::newRow("double click opens once") << "prdr" << 1;
        QTest::newRow("released off the label") << "po" << 0;
        QTest::newRow("release without press") << "r" << 0;
        QTest::newRow("right button") << "PR" << 0;
    }
    void whatCountsAsAClick()
    {
        Rig rig;
        rig.label.PreSubclassWindow();
        rig.Mouse(Col<QString>("gesture"));
        QTEST(int(rig.opened.size()), "opens");
    }

    // From (10, 20) and the text's size plus a slack to offsets from (10, 20) and from the text's size.
    void fitToText_data()
    {
        QTest::addColumn<int>("align");
        QTest::addColumn<QSize>("slack");
        QTest::addColumn<QRect>("expected");
        const int left = Qt::AlignLeft | Qt::AlignTop, centre = Qt::AlignHCenter | Qt::AlignTop;
        QTest::newRow("left keeps left and top") << left << QSize(40, 10) << QRect(0, 0, 0, 0);
        QTest::newRow("left grows a short label") << left << QSize(-30, -4) << QRect(0, 0, 0, 0);
        QTest::newRow("right keeps right edge") << int(Qt::AlignRight) << QSize(40, 10) << QRect(40, 0, 0, 0);
        QTest::newRow("centred odd slack keeps a pixel") << centre << QSize(41, 0) << QRect(20, 0, 1, 0);
        QTest::newRow("centred odd overflow halves to zero") << centre << QSize(-5, 0) << QRect(-2, 0, -1, 0);
        QTest::newRow("vertically centred odd overflow")
            << int(Qt::AlignRight | Qt::AlignVCenter) << QSize(0, -3) << QRect(0, -1, 0, -1);
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
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("target");
        QTest::newRow("empty text shows the address") << "" << kAddress << kAddress;
        QTest::newRow("no address takes the text") << kShown << "" << kShown;
    }
    void attach()
    {
        const QString text = Col<QString>("text"), target = Col<QString>("target");
        Rig rig(text);
        rig.Mouse("pr");
        QVERIFY2(rig.opened.isEmpty(), "clicks count once attached");
        rig.label.SetTargetUrl(Col<QString>("address"));
        rig.label.PreSubclassWindow();
        QCOMPARE(rig.label.text(), text.isEmpty() ? target : text);
        QCOMPARE(rig.label.width(), rig.label.fontMetrics().size(0, rig.label.text()).width());
        QCOMPARE(rig.label.cursor().shape(), Qt::ArrowCursor);
        rig.Mouse("pr");
        QCOMPARE(rig.opened, QList<QUrl>{QUrl(target)});
    }
};

QTEST_MAIN(CLinkLabelTest)
#include "CLinkLabelTest.moc"
