#include "widgets/CLinkLabel.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QToolTip>

#include <utility>

#ifdef _WIN32
#include "widgets/WindowsShell.h"
#endif

namespace varnel {

namespace {

// The browser command cut at its quoted placeholder (quotes included), or else at a
// plain %1; anything after the cut is dropped.
QString CutAtPlaceholder(const QString& command)
{
    QString cut = command;
    qsizetype at = cut.indexOf(QLatin1String("\"%1\""));
    if (at < 0) {
        at = cut.indexOf(QLatin1String("%1"));
    }
    if (at >= 0) {
        cut.truncate(at);
    }
    return cut;
}

// What is left of the command is split like a command line without a shell:
// blanks separate, double quotes group. The address follows as one argument of
// its own, so blanks or quotes in it can never add arguments.
QStringList FallbackCommand(const QString& command, const QString& url)
{
    QStringList parts = QProcess::splitCommand(CutAtPlaceholder(command));
    if (parts.isEmpty()) {
        return {};
    }
    if (!url.isEmpty()) {
        parts << url;
    }
    return parts;
}

const char* OpenErrorMessage(unsigned code)
{
    switch (code) {
    case 0: return "The operating system is out\nof memory or resources.";
    case 2: return "The specified file was not found.";
    case 3: return "The specified path was not found.";
    case 5: return "The operating system denied\naccess to the specified file.";
    case 8: return "There was not enough memory to complete the operation.";
    case 11: return "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
    case 26: return "A sharing violation occurred. ";
    case 27: return "The filename association is\nincomplete or invalid.";
    case 28: return "The DDE transaction could not\nbe completed because the request timed out.";
    case 29: return "The DDE transaction failed.";
    case 30:
        return "The DDE transaction could not\nbe completed because other DDE transactions\n"
               "were being processed.";
    case 31: return "There is no application associated\nwith the given filename extension.";
    case 32: return "The specified dynamic-link library was not found.";
    default: return nullptr;
    }
}

} // namespace

QColor ToQColor(ColourRef colour)
{
    return QColor(static_cast<int>(colour & 0xFFu), static_cast<int>((colour >> 8) & 0xFFu),
                  static_cast<int>((colour >> 16) & 0xFFu));
}

LinkLabelDesktop SystemDesktop()
{
    LinkLabelDesktop desktop;
    desktop.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    desktop.browserCommand = [] {
        return qEnvironmentVariable("BROWSER").section(QDir::listSeparator(), 0, 0);
    };
    desktop.startProgram = [](const QString& program, const QStringList& arguments) {
        return QProcess::startDetached(program, arguments);
    };
    desktop.showMessage = [](QMessageBox::Icon icon, const QString& caption, const QString& text,
                             QWidget* parent) {
        QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
        box.exec();
    };
    desktop.beep = [] { QApplication::beep(); };
#ifdef _WIN32
    constexpr int kShow = 5; // SW_SHOW: activate at the current size and place
    desktop.shellOpen = [](const QString& url) { return ShellOpen(url, QString(), kShow); };
    desktop.browserCommand = [] { return HtmOpenCommand(); };
    desktop.runCommandLine = [](const QString& commandLine) { return RunCommandLine(commandLine, kShow); };
#endif
    return desktop;
}

CLinkLabel::CLinkLabel(const QString& text, QWidget* parent)
    : QLabel(text, parent),
      m_desktop(SystemDesktop())
{
    // A plain static control: left and top aligned, text taken literally.
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setTextFormat(Qt::PlainText);
}

void CLinkLabel::SetDesktop(LinkLabelDesktop desktop)
{
    if (!desktop.openUrl) {
        desktop.openUrl = [](const QUrl&) { return false; };
    }
    if (!desktop.browserCommand) {
        desktop.browserCommand = [] { return QString(); };
    }
    if (!desktop.startProgram) {
        desktop.startProgram = [](const QString&, const QStringList&) { return false; };
    }
    if (!desktop.showMessage) {
        desktop.showMessage = [](QMessageBox::Icon, const QString&, const QString&, QWidget*) {};
    }
    if (!desktop.beep) {
        desktop.beep = [] {};
    }
    m_desktop = std::move(desktop);
}

void CLinkLabel::PreSubclassWindow()
{
    m_notify = true;
    if (m_targetUrl.isEmpty()) {
        m_targetUrl = text();
    }
    if (text().isEmpty()) {
        setText(m_targetUrl);
    }
    FitToText();
    m_handCursor = QCursor(Qt::ArrowCursor);
    setCursor(m_handCursor);
    m_toolTip.created = true;
    m_toolTip.area = rect();
    m_toolTip.text = m_targetUrl;
}

void CLinkLabel::SetTargetUrl(const QString& url)
{
    m_targetUrl = url;
    FitToText();
    m_toolTip.text = url;
}

void CLinkLabel::SetLinkColours(ColourRef linkColour, ColourRef visitedColour)
{
    m_linkColour = linkColour;
    m_visitedColour = visitedColour;
    update();
}

void CLinkLabel::SetVisitedState(bool visited)
{
    m_visited = visited;
    update();
}

void CLinkLabel::SetUnderlineMode(bool underline)
{
    m_underline = underline;
    update();
}

void CLinkLabel::SetHandCursor(const QCursor& cursor)
{
    m_handCursor = cursor;
    setCursor(m_handCursor);
}

void CLinkLabel::SetFitToText(bool fitToText)
{
    m_fitToText = fitToText;
    FitToText();
}

void CLinkLabel::FitToText()
{
    if (!m_fitToText) {
        return;
    }
    const QRect frame = geometry();
    int left = frame.x();
    int top = frame.y();
    int right = frame.x() + frame.width();
    int bottom = frame.y() + frame.height();

    // Measured with the label's own font: the underlined copy it may draw with
    // has the same advances.
    const QMargins margins = contentsMargins();
    const QSize textSize = fontMetrics().size(0, text());
    const int cx = textSize.width() + margins.left() + margins.right();
    const int cy = textSize.height() + margins.top() + margins.bottom();

    // Both halvings truncate toward zero: a text wider than the label grows it by
    // one pixel less than the text needs when the excess is odd.
    const Qt::Alignment align = alignment();
    if (align & Qt::AlignVCenter) {
        const int d = (bottom - top - cy) / 2;
        top += d;
        bottom -= d;
    } else {
        bottom = top + cy;
    }
    if (align & Qt::AlignHCenter) {
        const int d = (right - left - cx) / 2;
        left += d;
        right -= d;
    } else if (align & Qt::AlignRight) {
        left = right - cx;
    } else {
        right = left + cx;
    }
    setGeometry(left, top, right - left, bottom - top);
}

int CLinkLabel::OpenTarget(const QString& url)
{
    if (m_desktop.shellOpen) {
        return OpenWithSystemCodes(url);
    }
    if (m_desktop.openUrl(QUrl(url))) {
        return kOpened;
    }
    const QStringList command = FallbackCommand(m_desktop.browserCommand(), url);
    if (command.isEmpty()) {
        return kNoAssociation;
    }
    return m_desktop.startProgram(command.front(), command.mid(1)) ? kOpened : kFileNotFound;
}

int CLinkLabel::OpenWithSystemCodes(const QString& url)
{
    const int shell = m_desktop.shellOpen(url);
    if (static_cast<unsigned>(shell) > 32) {
        return shell;
    }
    const QString command = m_desktop.browserCommand();
    if (command.isEmpty() || !m_desktop.runCommandLine) {
        return shell;
    }
    // The command line is the browser's own text, then a blank and the address;
    // the address goes encoded, so that no blank or quote in it makes an argument.
    return m_desktop.runCommandLine(CutAtPlaceholder(command) + QLatin1Char(' ')
                                    + QUrl(url).toString(QUrl::FullyEncoded));
}

void CLinkLabel::ShowOpenError(int code)
{
    const char* message = OpenErrorMessage(static_cast<unsigned>(code));
    const QString reason = message != nullptr ? QString::fromLatin1(message)
                                              : QString::asprintf("Unknown Error (%d) occurred.", code);
    const QString caption = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    m_desktop.showMessage(QMessageBox::Warning, caption,
                          QStringLiteral("Unable to open hyperlink:\n\n") + reason, window());
}

void CLinkLabel::OnLabelClicked()
{
    const int result = OpenTarget(m_targetUrl);
    m_visited = result > 32;
    if (m_visited) {
        SetVisitedState(true);
    } else {
        // Deliberately no repaint: a purple label stays purple until it is next drawn.
        m_desktop.beep();
        ShowOpenError(result);
    }
}

void CLinkLabel::OnLabelColour(QPainter& painter)
{
    painter.setPen(ToQColor(m_visited ? m_visitedColour : m_linkColour));
    if (m_underline) {
        // Made once from the font the label had then; a later font change keeps it.
        if (!m_underlineFont) {
            QFont underlined = font();
            underlined.setUnderline(true);
            // Pin every attribute: the painter would otherwise fill the inherited
            // ones from whatever font the label has when it paints.
            underlined.setResolveMask(QFont::AllPropertiesResolved);
            m_underlineFont = underlined;
        }
        painter.setFont(*m_underlineFont);
    }
}

bool CLinkLabel::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        if (m_toolTip.created && !m_toolTip.text.isEmpty() && m_toolTip.area.contains(help->pos())) {
            QToolTip::showText(help->globalPos(), m_toolTip.text, this, m_toolTip.area);
        } else {
            QToolTip::hideText();
            event->ignore();
        }
        return true;
    }
    return QLabel::event(event);
}

void CLinkLabel::paintEvent(QPaintEvent*)
{
    // No background: the parent shows through around the text.
    QPainter painter(this);
    drawFrame(&painter);
    OnLabelColour(painter);
    painter.drawText(contentsRect(), static_cast<int>(alignment()), text());
}

void CLinkLabel::mousePressEvent(QMouseEvent* event)
{
    if (m_notify && event->button() == Qt::LeftButton) {
        event->accept();
        m_pressed = true;
        return;
    }
    QLabel::mousePressEvent(event);
}

// The second press of a double click is no click: one double click opens the
// address once, not twice.
void CLinkLabel::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (m_notify && event->button() == Qt::LeftButton) {
        event->accept();
        m_pressed = false;
        return;
    }
    QLabel::mouseDoubleClickEvent(event);
}

void CLinkLabel::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_notify && event->button() == Qt::LeftButton) {
        event->accept();
        const bool clicked = m_pressed && rect().contains(event->position().toPoint());
        m_pressed = false;
        if (clicked)
            OnLabelClicked();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

} // namespace varnel
