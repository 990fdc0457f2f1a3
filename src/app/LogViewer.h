#pragma once

#include <QPlainTextEdit>
#include <QString>

namespace varnel {

// A read-only window on the trace log, for desktops that have no viewer of their own.
class LogViewer final : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit LogViewer(QWidget* parent = nullptr);

    // Shows the file as it is now; an unreadable file leaves the viewer empty
    // with the reason in its place.
    void ShowFile(const QString& path);
};

} // namespace varnel
