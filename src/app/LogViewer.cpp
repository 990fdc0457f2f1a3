#include "LogViewer.h"

#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>

namespace varnel {

namespace {

constexpr int kViewerWidth = 640;
constexpr int kViewerHeight = 480;

} // namespace

LogViewer::LogViewer(QWidget* parent) : QPlainTextEdit(parent)
{
    setWindowFlag(Qt::Window);
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    resize(kViewerWidth, kViewerHeight);
}

void LogViewer::ShowFile(const QString& path)
{
    setWindowTitle(QFileInfo(path).fileName());
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        // The log is written with CR LF on every platform; one byte per character.
        QString text = QString::fromLatin1(file.readAll());
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        setPlainText(text);
        setPlaceholderText(QString());
    } else {
        clear();
        setPlaceholderText(QFileInfo(path).fileName() + QLatin1String(": ") + file.errorString());
    }
    show();
    raise();
    activateWindow();
}

} // namespace varnel
