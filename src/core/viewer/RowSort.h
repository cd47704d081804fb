#pragma once

#include "core/viewer/BigArray.h"
#include "core/viewer/ViewerColumns.h"

#include <QString>

#include <array>

// Ordering the viewer's rows by one column. The rows are never touched: the
// sort computes each row's key into a side array and reorders the list of
// record numbers the view shows through.
namespace Viewer {

class RecordStore;

// Record numbers, top row first.
using RowOrder = BigVector<quint32>;

// Header image names.
inline const QString AscImage = QStringLiteral("asc");
inline const QString DescImage = QStringLiteral("desc");

// The header images, which are the record of each column's direction.
class SortHeaders
{
public:
    SortHeaders();  // as loaded: "Date" shows "asc", the others nothing

    // A click on a column: a header showing "asc" sorts descending and
    // shows "desc", any other sorts ascending and shows "asc"; every other
    // header loses its image. Returns true for descending.
    bool click(int column);
    QString image(int column) const { return m_images[std::size_t(column)]; }

private:
    std::array<QString, ColumnCount> m_images;
};

// Working memory of a sort, worth keeping between sorts: fresh memory for
// millions of keys costs more to touch than the sort itself.
struct SortScratch
{
    BigVector<quint64> byRecord;
    BigVector<quint64> keys;
    BigVector<quint64> keys2;
    RowOrder order2;
};

// Reorders `order` (a permutation of the store's rows) by the keys of the
// column, of the given type. Rows with equal keys keep their order.
void SortRows(const RecordStore &store, int column, ColumnType type, bool descending, RowOrder &order,
              SortScratch &scratch);
void SortRows(const RecordStore &store, int column, ColumnType type, bool descending, RowOrder &order);

// Stable ascending sort of values by their keys (both reordered); the two
// spare arrays are resized as needed and left holding the other halves.
void RadixSortByKey(BigVector<quint64> &keys, RowOrder &values, BigVector<quint64> &spareKeys, RowOrder &spareValues);

}  // namespace Viewer
