#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QTableView>

#include <array>
#include <vector>

namespace varnel {

// The rows of the result list: three text columns, filled one row at a time.
// Appending costs the same however many rows there are already.
class ResultRowModel final : public QAbstractTableModel {
    Q_OBJECT

public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // `index` beyond the end appends, as a list control does.
    void InsertRow(int index, const QString& text);
    // Ignored for a row that does not exist.
    void SetRowColumns(int index, const QString& code, const QString& value);
    void Clear();
    QString Text(int row, int column) const;

private:
    std::vector<std::array<QString, 3>> m_rows;
};

// The report-style list: grid lines, whole-row selection, and a tool tip with
// the full text of a cell whose text does not fit.
class ResultListView final : public QTableView {
    Q_OBJECT

public:
    explicit ResultListView(QWidget* parent = nullptr);

    // Grid lines, whole-row selection and tool tips for cut-off texts.
    void AddExtendedStyles();
    // "Data" 200, "Code (OBIS)" 100 and "Value" 100 pixels wide, left-aligned.
    void SetUpColumns();

    // Brings `row` into view once the rows added so far are laid out: rows arrive
    // in bursts, and only the newest of a burst needs scrolling to.
    void ScrollToRow(int row);

    // The text of `index` when it is cut off in its cell, otherwise empty.
    QString TruncatedText(const QModelIndex& index) const;

protected:
    bool viewportEvent(QEvent* event) override;

private:
    void FinishScroll();

    bool m_infoTips = false;
    int m_scrollRow = -1;
};

} // namespace varnel
