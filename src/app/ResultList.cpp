#include "ResultList.h"

#include "WidgetView.h"
#include "readout/RowText.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QMenu>
#include <QSaveFile>
#include <QStyle>
#include <QToolTip>

#include <algorithm>
#include <set>
#include <utility>

namespace varnel {

namespace {

constexpr std::array<const char*, 3> kHeaders{"Data", "Code (OBIS)", "Value"};
constexpr std::array<int, 3> kColumnWidths{200, 100, 100};

} // namespace

ResultRowModel::ResultRowModel(QObject* parent) : QAbstractTableModel(parent)
{
    m_flush.setSingleShot(true);
    m_flush.setInterval(kListRefresh);
    connect(&m_flush, &QTimer::timeout, this, &ResultRowModel::Flush);
}

int ResultRowModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_shown;
}

int ResultRowModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(kHeaders.size());
}

QVariant ResultRowModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (role == Qt::DisplayRole)
        return Text(index.row(), index.column());
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

QVariant ResultRowModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount())
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(kHeaders[static_cast<std::size_t>(section)]);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

void ResultRowModel::InsertRow(int index, const QString& text)
{
    const int row = std::clamp(index, 0, RowsAdded());
    if (row == RowsAdded()) {
        m_rows.push_back({text, QString(), QString()});
        if (!m_flush.isActive())
            m_flush.start();
        return;
    }
    Flush();
    beginInsertRows(QModelIndex(), row, row);
    m_rows.insert(m_rows.begin() + row, {text, QString(), QString()});
    ++m_shown;
    endInsertRows();
}

void ResultRowModel::SetRowColumns(int index, const QString& code, const QString& value)
{
    if (index < 0 || index >= RowsAdded())
        return;
    auto& row = m_rows[static_cast<std::size_t>(index)];
    row[1] = code;
    row[2] = value;
    if (index < m_shown)
        emit dataChanged(this->index(index, 1), this->index(index, 2), {Qt::DisplayRole});
}

void ResultRowModel::Clear()
{
    m_flush.stop();
    beginResetModel();
    m_rows.clear();
    m_shown = 0;
    endResetModel();
}

void ResultRowModel::Flush()
{
    m_flush.stop();
    if (m_shown == RowsAdded())
        return;
    beginInsertRows(QModelIndex(), m_shown, RowsAdded() - 1);
    m_shown = RowsAdded();
    endInsertRows();
}

QString ResultRowModel::Text(int row, int column) const
{
    if (row < 0 || row >= RowsAdded() || column < 0 || column >= columnCount())
        return {};
    return m_rows[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

ResultListView::ResultListView(QWidget* parent) : QTableView(parent)
{
    setShowGrid(false);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    // Fixed row heights keep each appended row cheap, however long the list gets.
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setMinimumSectionSize(0);
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(kListRefresh);
    connect(&m_refresh, &QTimer::timeout, this, &ResultListView::FinishScroll);
    m_chooseFile = [](QWidget* parent) {
        return QFileDialog::getSaveFileName(parent, QStringLiteral("Save as CSV"), QString(),
                                            QStringLiteral("CSV files (*.csv);;All files (*)"));
    };
    AddAction("&Copy", QKeySequence::Copy, &ResultListView::CopyRows);
    AddAction("Select &all", QKeySequence::SelectAll, &ResultListView::selectAll);
    AddAction("&Save as CSV\u2026", QKeySequence(), &ResultListView::SaveRowsAsCsv);
}

QAction* ResultListView::AddAction(const char* text, const QKeySequence& keys, void (ResultListView::*slot)())
{
    auto* action = new QAction(QString::fromUtf8(text), this);
    action->setShortcut(keys);
    // The keys belong to the list: elsewhere in the window they do what they always did.
    action->setShortcutContext(Qt::WidgetShortcut);
    connect(action, &QAction::triggered, this, slot);
    addAction(action);
    return action;
}

void ResultListView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    menu.addActions(actions());
    menu.insertSeparator(actions().back());
    menu.exec(event->globalPos());
}

QString ResultListView::RowsAsText() const
{
    auto* rows = qobject_cast<ResultRowModel*>(model());
    if (!rows)
        return {};
    std::set<int> selected;
    for (const QModelIndex& index : selectionModel()->selectedIndexes())
        selected.insert(index.row());
    QString text;
    const auto add = [&](int row) {
        text += rows->Text(row, 0) + '\t' + rows->Text(row, 1) + '\t' + rows->Text(row, 2) + '\n';
    };
    if (selected.empty())
        for (int row = 0; row < rows->RowsAdded(); ++row)
            add(row);
    for (const int row : selected)
        add(row);
    return text;
}

void ResultListView::CopyRows()
{
    QGuiApplication::clipboard()->setText(RowsAsText());
}

void ResultListView::SaveRowsAsCsv()
{
    auto* rows = qobject_cast<ResultRowModel*>(model());
    const QString path = rows ? m_chooseFile(this) : QString();
    if (path.isEmpty())
        return;
    std::string csv = kCsvHeader;
    for (int row = 0; row < rows->RowsAdded(); ++row)
        csv += CsvRecord(FromDisplay(rows->Text(row, 0)), FromDisplay(rows->Text(row, 1)),
                         FromDisplay(rows->Text(row, 2)));
    // Written aside and renamed into place: an old file is never left half overwritten.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)
        && file.write(csv.data(), static_cast<qint64>(csv.size())) == static_cast<qint64>(csv.size())
        && file.commit())
        return;
    if (m_onError)
        m_onError("The rows could not be saved to " + FromDisplay(path) + ": "
                  + FromDisplay(file.errorString()));
}

void ResultListView::AddExtendedStyles()
{
    setShowGrid(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    m_infoTips = true;
}

void ResultListView::SetUpColumns()
{
    for (int i = 0; i < static_cast<int>(kColumnWidths.size()); ++i)
        setColumnWidth(i, kColumnWidths[static_cast<std::size_t>(i)]);
}

void ResultListView::ScrollToRow(int row)
{
    m_scrollRow = row;
    if (!m_refresh.isActive()) {
        setUpdatesEnabled(false);
        m_refresh.start();
    }
}

void ResultListView::FinishScroll()
{
    setUpdatesEnabled(true);
    if (auto* rows = qobject_cast<ResultRowModel*>(model()))
        rows->Flush();
    const int row = std::exchange(m_scrollRow, -1);
    if (!model() || row < 0 || row >= model()->rowCount())
        return;
    // The scroll range follows the row count lazily; without this the newest
    // rows would stay below the end of the range.
    updateGeometries();
    scrollTo(model()->index(row, 0), QAbstractItemView::EnsureVisible);
}

QString ResultListView::TruncatedText(const QModelIndex& index) const
{
    if (!index.isValid())
        return {};
    const QString text = index.data(Qt::DisplayRole).toString();
    // The item delegate keeps a margin on each side of the text.
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const int available = columnWidth(index.column()) - 2 * margin;
    return fontMetrics().horizontalAdvance(text) > available ? text : QString();
}

bool ResultListView::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip && m_infoTips) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(help->pos());
        const QString text = TruncatedText(index);
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, viewport(), visualRect(index));
        return true;
    }
    return QTableView::viewportEvent(event);
}

} // namespace varnel
