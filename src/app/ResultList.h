#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QTableView>
#include <QTimer>

#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

class QAction;

namespace varnel {

// How long the list holds back new rows, its repaint and its scroll while rows
// keep coming.
constexpr std::chrono::milliseconds kListRefresh{500};

// The rows of the result list: three text columns, filled one row at a time.
// Appending costs the same however many rows there are already. Rows appended
// at the end are shown to views together, within kListRefresh: announcing each
// one makes every view lay out and repaint once per receive tick.
class ResultRowModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit ResultRowModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // `index` beyond the end appends, as a list control does.
    void InsertRow(int index, const QString& text);
    // Ignored for a row that does not exist.
    void SetRowColumns(int index, const QString& code, const QString& value);
    void Clear();
    // Rows added so far, shown or not yet.
    int RowsAdded() const { return static_cast<int>(m_rows.size()); }
    QString Text(int row, int column) const;
    // Shows the rows appended since the last time.
    void Flush();

private:
    std::vector<std::array<QString, 3>> m_rows;
    int m_shown = 0;
    QTimer m_flush;
};

// The report-style list: grid lines, whole-row selection, a tool tip with the
// full text of a cell whose text does not fit, and a context menu (with its
// keys while the list has the focus) that copies the rows or saves them as CSV.
class ResultListView final : public QTableView {
    Q_OBJECT

public:
    // Asks for the file to save the rows to; empty when the user cancels.
    using FileChooser = std::function<QString(QWidget* parent)>;
    // Says why the rows could not be saved.
    using ErrorHandler = std::function<void(const std::string& text)>;

    explicit ResultListView(QWidget* parent = nullptr);

    void SetFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }
    void SetErrorHandler(ErrorHandler handler) { m_onError = std::move(handler); }
    // The selected rows, or every row when none is selected, as Data, Code and
    // Value separated by tabs, one line each.
    QString RowsAsText() const;
    // Copies RowsAsText() to the clipboard.
    void CopyRows();
    // Every row in the CSV varnel-read prints, into a file the user chooses;
    // a failure leaves the file as it was.
    void SaveRowsAsCsv();

    // Grid lines, whole-row selection and tool tips for cut-off texts.
    void AddExtendedStyles();
    // "Data" 200, "Code (OBIS)" 100 and "Value" 100 pixels wide, left-aligned.
    void SetUpColumns();

    // Brings `row` into view within kListRefresh, together with the rows added
    // until then: rows arrive with every receive tick, and painting and
    // scrolling the list for each tick cost more CPU than the whole readout.
    void ScrollToRow(int row);

    // The text of `index` when it is cut off in its cell, otherwise empty.
    QString TruncatedText(const QModelIndex& index) const;

protected:
    bool viewportEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void FinishScroll();
    QAction* AddAction(const char* text, const QKeySequence& keys, void (ResultListView::*slot)());

    FileChooser m_chooseFile;
    ErrorHandler m_onError;
    bool m_infoTips = false;
    int m_scrollRow = -1;
    QTimer m_refresh;
};

} // namespace varnel
