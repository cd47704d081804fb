#pragma once

#include "core/viewer/RowSort.h"
#include "core/viewer/ViewerRecords.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QPixmap>

// The record viewer's list: one row per record, drawn in its mode's colour.
// Cell texts are made from the record store when the view asks for them;
// sorting only reorders the record numbers behind the rows.
class ViewerModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Role {
        TypeTagRole = Qt::UserRole + 1,  // header: "DATE", "STRING" or "NUMBER"
        ImageKeyRole,  // header: "asc", "desc" or empty
    };

    explicit ViewerModel(QObject *parent = nullptr);

    void setRecords(Viewer::RecordStore records);
    const Viewer::RecordStore &records() const { return m_records; }
    // The record shown in a row, counted from 0 in file order.
    quint32 recordAt(int row) const { return m_order[std::size_t(row)]; }
    QString headerImage(int column) const { return m_headers.image(column); }

    // A click on a column header: the direction comes from the header images,
    // then the rows are reordered. A failure (no memory for the keys) leaves
    // the rows as they were.
    void columnClick(int column);

    static QColor noModeColour() { return QColor(0, 0, 0); }
    static QColor modeColour(int mode);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    Viewer::RecordStore m_records;
    Viewer::RowOrder m_order;
    Viewer::SortScratch m_scratch;
    Viewer::SortHeaders m_headers;
    QPixmap m_asc;
    QPixmap m_desc;
};
