#include "ResultList.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QStyle>
#include <QToolTip>

#include <algorithm>
#include <utility>

namespace varnel {

namespace {

constexpr std::array<const char*, 3> kHeaders{"Data", "Code (OBIS)", "Value"};
constexpr std::array<int, 3> kColumnWidths{200, 100, 100};

} // namespace

int ResultRowModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
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
    const int row = std::clamp(index, 0, rowCount());
    beginInsertRows(QModelIndex(), row, row);
    m_rows.insert(m_rows.begin() + row, {text, QString(), QString()});
    endInsertRows();
}

void ResultRowModel::SetRowColumns(int index, const QString& code, const QString& value)
{
    if (index < 0 || index >= rowCount())
        return;
    auto& row = m_rows[static_cast<std::size_t>(index)];
    row[1] = code;
    row[2] = value;
    emit dataChanged(this->index(index, 1), this->index(index, 2), {Qt::DisplayRole});
}

void ResultRowModel::Clear()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

QString ResultRowModel::Text(int row, int column) const
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount())
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
    const bool pending = m_scrollRow >= 0;
    m_scrollRow = row;
    if (!pending)
        QMetaObject::invokeMethod(this, &ResultListView::FinishScroll, Qt::QueuedConnection);
}

void ResultListView::FinishScroll()
{
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
