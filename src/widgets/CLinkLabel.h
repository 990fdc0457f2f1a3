#pragma once

#include <QCursor>
#include <QFont>
#include <QLabel>
#include <QMessageBox>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <optional>

namespace varnel {

// A colour in the 0x00BBGGRR layout the label keeps its colours in.
using ColourRef = std::uint32_t;

constexpr ColourRef MakeColourRef(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    return ColourRef{red} | (ColourRef{green} << 8) | (ColourRef{blue} << 16);
}

QColor ToQColor(ColourRef colour);

// What the label asks of the desktop when it is clicked. Tests substitute all of it
// so that no browser starts and no box blocks.
struct LinkLabelDesktop {
    // The desktop's URL opener; true when it took the address.
    std::function<bool(const QUrl& url)> openUrl;
    // The browser command to fall back on; empty when there is none.
    std::function<QString()> browserCommand;
    // Starts a program without a shell; true when it started.
    std::function<bool(const QString& program, const QStringList& arguments)> startProgram;
    std::function<void(QMessageBox::Icon icon, const QString& caption, const QString& text, QWidget* parent)>
        showMessage;
    std::function<void()> beep;
    // Where the system says why an open failed (Windows: ShellExecute, then the
    // browser's command line run by WinExec), these two take the place of openUrl
    // and startProgram, and the error box explains the system's own code. Empty
    // unless given, also where a desktop is written member by member.
    std::function<int(const QString& url)> shellOpen = nullptr;
    std::function<int(const QString& commandLine)> runCommandLine = nullptr;
};

// The real desktop: QDesktopServices, the first entry of $BROWSER, a detached
// process, a modal QMessageBox and the application's beep; on Windows the shell,
// the ".htm" class's open command and WinExec.
LinkLabelDesktop SystemDesktop();

// A label drawn as a web link that opens its address in the browser when clicked.
//
// The owner creates it with its text, geometry and alignment, then calls
// PreSubclassWindow() once, then configures it. Alignment flags stand in for the
// static control styles: Qt::AlignHCenter for centred, Qt::AlignRight for right-
// aligned, Qt::AlignVCenter for vertically centred; the default is left and top.
class CLinkLabel : public QLabel {
    Q_OBJECT

public:
    // Result codes of OpenTarget: above 32 means the address was handed over.
    static constexpr int kOpened = 33;
    static constexpr int kNoAssociation = 31;
    static constexpr int kFileNotFound = 2;

    explicit CLinkLabel(const QString& text = QString(), QWidget* parent = nullptr);

    // Members left empty do nothing: no opener, no fallback, no box, no beep.
    void SetDesktop(LinkLabelDesktop desktop);

    // Attach-time set-up: enables clicks, settles the address and the text, fits the
    // label, installs the arrow cursor and the tool tip over the label's area.
    void PreSubclassWindow();

    void SetTargetUrl(const QString& url);
    void SetLinkColours(ColourRef linkColour, ColourRef visitedColour);
    void SetVisitedState(bool visited);
    void SetUnderlineMode(bool underline);
    void SetHandCursor(const QCursor& cursor);
    void SetFitToText(bool fitToText);
    void FitToText();

    // Opens `url` in the browser; returns a code above 32 on success, otherwise the
    // code ShowOpenError explains.
    int OpenTarget(const QString& url);
    void ShowOpenError(int code);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // The one tool of the tool tip: the label's area at attach time and its text.
    struct ToolTipTool {
        bool created = false;
        QRect area;
        QString text;
    };

    int OpenWithSystemCodes(const QString& url);
    void OnLabelClicked();
    // Chooses the pen and font the text is drawn with.
    void OnLabelColour(QPainter& painter);

    ColourRef m_linkColour = MakeColourRef(0, 0, 238);
    ColourRef m_visitedColour = MakeColourRef(85, 26, 139);
    bool m_visited = false;
    bool m_underline = true;
    bool m_fitToText = true;
    QString m_targetUrl;
    std::optional<QFont> m_underlineFont;
    QCursor m_handCursor;
    ToolTipTool m_toolTip;
    // Clicks count only once the label is attached.
    bool m_notify = false;
    // A left press began on the label and the release may complete a click.
    bool m_pressed = false;
    LinkLabelDesktop m_desktop;
};

} // namespace varnel
