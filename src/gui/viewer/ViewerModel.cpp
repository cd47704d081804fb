#include "gui/viewer/ViewerModel.h"

#include "core/usage/ModeTable.h"
#include "gui/viewer/HeaderImages.h"

#include <algorithm>
#include <new>
#include <numeric>

using namespace Viewer;

ViewerModel::ViewerModel(QObject *parent)
    : QAbstractTableModel(parent)
    , m_asc(DrawHeaderImage(AscImage))
    , m_desc(DrawHeaderImage(DescImage))
{ }

void ViewerModel::setRecords(RecordStore records)
{
    beginResetModel();
    m_records = std::move(records);
    m_order.resize(std::size_t(m_records.rowCount()));
    std::iota(m_order.begin(), m_order.end(), quint32(0));
    endResetModel();
}

QColor ViewerModel::modeColour(int mode)
{
    if (mode < 0 || mode >= ModeTable::Count)
        return noModeColour();
    const ModeTable::Rgb c = ModeTable::Modes[std::size_t(mode)].colour;
    return QColor(c.r, c.g, c.b);
}

void ViewerModel::columnClick(int column)
{
    if (column < 0 || column >= ColumnCount)
        return;
    const bool descending = m_headers.click(column);
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // The views' current and selected cells follow their records.
    const QModelIndexList from = persistentIndexList();
    std::vector<quint32> records;
    records.reserve(std::size_t(from.size()));
    for (const QModelIndex &i : from)
        records.push_back(m_order[std::size_t(i.row())]);
    try {
        SortRows(m_records, column, TypeOfColumn(column), descending, m_order, m_scratch);
    } catch (const std::bad_alloc &) {
        // The sort takes its memory before it changes the order, so a failure
        // leaves the rows as they were; like every failure in a sort, skipped.
    }
    QModelIndexList to;
    to.reserve(from.size());
    if (from.size() <= 16) {
        // Usually the current cell and a selected row: a look-up each is cheaper than a map.
        for (std::size_t k = 0; k < records.size(); ++k) {
            const auto at = std::find(m_order.begin(), m_order.end(), records[k]);
            to << index(int(at - m_order.begin()), from[qsizetype(k)].column());
        }
    } else {
        std::vector<quint32> rowOf(m_order.size());
        for (std::size_t row = 0; row < m_order.size(); ++row)
            rowOf[m_order[row]] = quint32(row);
        for (std::size_t k = 0; k < records.size(); ++k)
            to << index(int(rowOf[records[k]]), from[qsizetype(k)].column());
    }
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int ViewerModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_order.size());
}

int ViewerModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

static Qt::Alignment alignmentOf(int column)
{
    return (Columns[std::size_t(column)].align == Align::Left ? Qt::AlignLeft : Qt::AlignHCenter) | Qt::AlignVCenter;
}

static QString latin(std::string_view text)
{
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

QVariant ViewerModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= ColumnCount)
        return {};
    const quint32 record = m_order[std::size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return m_records.cellText(record, index.column());
    case Qt::ForegroundRole:
        return modeColour(m_records.colourMode(record));
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(alignmentOf(index.column()));
    default:
        return {};
    }
}

QVariant ViewerModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    const Column &column = Columns[std::size_t(section)];
    switch (role) {
    case Qt::DisplayRole:
        return latin(column.header);
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(alignmentOf(section));
    case Qt::DecorationRole: {
        const QString image = m_headers.image(section);
        if (image == AscImage)
            return m_asc;
        if (image == DescImage)
            return m_desc;
        return {};
    }
    case TypeTagRole:
        return latin(column.typeTag);
    case ImageKeyRole:
        return m_headers.image(section);
    default:
        return {};
    }
}
