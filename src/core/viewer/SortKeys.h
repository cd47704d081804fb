#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>
#include <string>

// Sort keys of the record viewer's columns.
//
// The list orders rows by key texts compared character by character:
//   "DATE":   fourteen digits yyyymmddhhmmss, or the empty key when the cell
//             is not a date and time;
//   "NUMBER": the number with 30 integer and 30 fraction digits, or "&" and
//             ComplementDigits of its negation for a number below 0, or the
//             empty key when the cell is not a number;
//   text:     the cell itself, letter case ignored.
// The texts exist here for reference (and the tests); sorting uses 64-bit
// keys that order exactly as the texts do, with an exact comparison for the
// rare cells a 64-bit key cannot tell apart.
namespace Viewer {

// Every digit d becomes 9 - d and every "-" a blank; other characters stay.
QString ComplementDigits(QStringView text);

// A date cell: day/month/two-digit year, blanks, hours:minutes:seconds, with
// blanks allowed around it; a real calendar date and a time of day. The year
// yy is 20yy.
QString DateKeyText(QStringView cell);
QString NumberKeyText(QStringView cell);

// 0 is the empty key; dates give keys above 0 in the order of their texts.
quint64 DateKey(QByteArrayView cell);
// The key of the date column's cell made of a line's date and time fields
// (the date, three blanks, the time), without making the cell.
quint64 DateKey(QByteArrayView dateField, QByteArrayView timeField);

// A key that never orders two cells against their key texts; when it is
// not exact, cells with the same key may still differ and are compared in full.
struct CoarseKey
{
    quint64 key = 0;
    bool exact = true;
};

// A number cell: blanks, an optional sign, digits with an optional decimal
// point (at least one digit), an optional exponent, blanks. Sizes of 10^30
// and more (whose 30-digit key text would misplace them) order by size.
CoarseKey NumberKey(QByteArrayView cell);
// Negative, zero or positive as a orders before, with or after b.
int CompareNumberCells(QByteArrayView a, QByteArrayView b);

CoarseKey TextKey(QByteArrayView cell);
int CompareTextCells(QByteArrayView a, QByteArrayView b) noexcept;

// A number as read from a cell and rounded to 30 fraction digits:
// 0.digits x 10^point, digits without leading or trailing zeros (none for 0).
// negative: the cell's value was below 0, even if it rounds to 0.
struct Decimal
{
    bool negative = false;
    qint64 point = 0;
    std::string digits;
};
std::optional<Decimal> ReadDecimal(QByteArrayView cell);
// As CompareNumberCells, on cells already read (no number: nullopt).
int CompareDecimals(const std::optional<Decimal> &a, const std::optional<Decimal> &b) noexcept;

}  // namespace Viewer
