#include "core/viewer/RowSort.h"

#include "core/viewer/SortKeys.h"
#include "core/viewer/ViewerRecords.h"

#include <algorithm>
#include <bit>
#include <string>

namespace Viewer {

SortHeaders::SortHeaders()
{
    m_images[DateColumn] = AscImage;
}

bool SortHeaders::click(int column)
{
    const bool descending = m_images[std::size_t(column)] == AscImage;
    for (QString &image : m_images)
        image.clear();
    m_images[std::size_t(column)] = descending ? DescImage : AscImage;
    return descending;
}

void RadixSortByKey(BigVector<quint64> &keys, RowOrder &values, BigVector<quint64> &spareKeys, RowOrder &spareValues)
{
    const std::size_t n = keys.size();
    if (n < 2)
        return;
    // Only the bits in which some keys differ are sorted on, in digits of
    // up to 11 bits: a month of dates differs in 22 bits, two passes.
    quint64 differ = 0;
    for (const quint64 k : keys)
        differ |= k ^ keys[0];
    if (differ == 0)
        return;
    const int low = std::countr_zero(differ);
    const int bits = 64 - std::countl_zero(differ) - low;
    const int digits = (bits + 10) / 11;
    const int digitBits = (bits + digits - 1) / digits;
    const quint64 mask = (quint64(1) << digitBits) - 1;

    std::vector<quint32> counts(std::size_t(digits) << digitBits);
    for (const quint64 k : keys) {
        for (int d = 0; d < digits; ++d)
            ++counts[(std::size_t(d) << digitBits) + ((k >> (low + d * digitBits)) & mask)];
    }
    for (int d = 0; d < digits; ++d) {
        const int shift = low + d * digitBits;
        quint32 *const count = counts.data() + (std::size_t(d) << digitBits);
        if (count[(keys[0] >> shift) & mask] == n)
            continue;
        spareKeys.resize(n);
        spareValues.resize(n);
        quint32 start = 0;
        for (std::size_t b = 0; b <= mask; ++b) {
            const quint32 here = count[b];
            count[b] = start;
            start += here;
        }
        for (std::size_t i = 0; i < n; ++i) {
            const quint32 to = count[(keys[i] >> shift) & mask]++;
            spareKeys[to] = keys[i];
            spareValues[to] = values[i];
        }
        keys.swap(spareKeys);
        values.swap(spareValues);
    }
}

void SortRows(const RecordStore &store, int column, ColumnType type, bool descending, RowOrder &order)
{
    SortScratch scratch;
    SortRows(store, column, type, descending, order, scratch);
}

void SortRows(const RecordStore &store, int column, ColumnType type, bool descending, RowOrder &order,
              SortScratch &scratch)
{
    // Keys are made in file order, where the lines lie one after another in
    // memory, and only then gathered into the order shown: after a first
    // sort, visiting the rows as shown would miss the cache on every one.
    const std::size_t rows = std::size_t(store.rowCount());
    BigVector<quint64> &byRecord = scratch.byRecord;
    byRecord.resize(rows);
    std::vector<bool> inexact;  // by record number, only once a key is not exact
    std::string text;
    const int upTo = column == DateColumn ? 1 : column + 1;  // the last field the cell needs
    for (std::size_t record = 0; record < rows; ++record) {
        const RecordStore::Fields fields = store.fields(qsizetype(record), upTo);
        CoarseKey key;
        switch (type) {
        case ColumnType::Date:
            key.key = column == DateColumn && fields.count >= 2 ? DateKey(fields.field(0), fields.field(1))
                                                                : DateKey(CellBytes(fields, column, text));
            break;
        case ColumnType::Number:
            key = NumberKey(CellBytes(fields, column, text));
            break;
        case ColumnType::Text:
            key = TextKey(CellBytes(fields, column, text));
            break;
        }
        if (!key.exact) {
            if (inexact.empty())
                inexact.resize(rows);
            inexact[record] = true;
        }
        byRecord[record] = descending ? ~key.key : key.key;
    }
    const std::size_t n = order.size();
    BigVector<quint64> &keys = scratch.keys;
    keys.resize(n);
    for (std::size_t i = 0; i < n; ++i)
        keys[i] = byRecord[order[i]];

    RadixSortByKey(keys, order, scratch.keys2, scratch.order2);
    if (inexact.empty())
        return;

    // Runs of equal keys that hold a cell the key could not fully tell apart
    // are put in order by the cells themselves. Numbers are read before the
    // run is touched, so running out of memory cannot leave it half sorted.
    std::vector<std::pair<std::optional<Decimal>, quint32>> numbers;
    std::string unused;
    const auto refineRun = [&](std::size_t start, std::size_t end) {
        const auto first = order.begin() + qsizetype(start), last = order.begin() + qsizetype(end);
        if (type != ColumnType::Number) {
            std::stable_sort(first, last, [&](quint32 a, quint32 b) {
                const int c = CompareTextCells(CellBytes(store.fields(a, upTo), column, unused),
                                               CellBytes(store.fields(b, upTo), column, unused));
                return descending ? c > 0 : c < 0;
            });
            return;
        }
        numbers.clear();
        for (auto i = first; i != last; ++i)
            numbers.emplace_back(ReadDecimal(CellBytes(store.fields(*i, upTo), column, unused)), *i);
        std::stable_sort(numbers.begin(), numbers.end(), [&](const auto &a, const auto &b) {
            const int c = CompareDecimals(a.first, b.first);
            return descending ? c > 0 : c < 0;
        });
        for (std::size_t k = 0; k < numbers.size(); ++k)
            first[qsizetype(k)] = numbers[k].second;
    };
    std::size_t start = 0;
    while (start < n) {
        std::size_t end = start + 1;
        bool refine = inexact[order[start]];
        while (end < n && keys[end] == keys[start]) {
            refine = refine || inexact[order[end]];
            ++end;
        }
        if (refine && end - start > 1)
            refineRun(start, end);
        start = end;
    }
}

}  // namespace Viewer
