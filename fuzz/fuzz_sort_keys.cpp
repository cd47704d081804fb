// The viewer's sort keys: the 64-bit date, number and text keys must order
// cells exactly as their key texts do (dates as fourteen digits yyyymmddhhmmss,
// numbers as 30.30 digits with "&" and complemented digits below 0, text with
// ASCII case ignored), and the number comparison must be a total order.
// Input: three cells separated by the first two LF bytes.
#include "FuzzSupport.h"

#include "core/viewer/SortKeys.h"

namespace {

int sign(qint64 v)
{
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

int compareTexts(const QString &a, const QString &b)
{
    return sign(a.compare(b));
}

template<class T>
int compareValues(const T &a, const T &b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

void checkDates(const QByteArray &a, const QByteArray &b)
{
    const quint64 ka = Viewer::DateKey(a), kb = Viewer::DateKey(b);
    const QString ta = Viewer::DateKeyText(QString::fromLatin1(a)), tb = Viewer::DateKeyText(QString::fromLatin1(b));
    FUZZ_CHECK((ka == 0) == ta.isEmpty());
    FUZZ_CHECK(ta.isEmpty() || (ta.size() == 14 && ta.toULongLong() / 10000000000ULL >= 2000));
    FUZZ_CHECK(compareValues(ka, kb) == compareTexts(ta, tb));
    // The date column joins the date and time fields with three blanks.
    if (const qsizetype comma = a.indexOf(','); comma >= 0) {
        const QByteArray date = a.left(comma), time = a.mid(comma + 1);
        FUZZ_CHECK(Viewer::DateKey(date, time) == Viewer::DateKey(date + "   " + time));
    }
}

bool belowKeyRange(const QByteArray &cell)
{
    const std::optional<Viewer::Decimal> d = Viewer::ReadDecimal(cell);
    return !d || d->point <= 30;
}

void checkNumbers(const QByteArray &a, const QByteArray &b, const QByteArray &c)
{
    const int ab = Viewer::CompareNumberCells(a, b);
    FUZZ_CHECK(ab == -Viewer::CompareNumberCells(b, a));
    FUZZ_CHECK(Viewer::CompareNumberCells(a, a) == 0);
    // A total order: no cycle among three cells.
    const int bc = Viewer::CompareNumberCells(b, c), ac = Viewer::CompareNumberCells(a, c);
    if (ab <= 0 && bc <= 0)
        FUZZ_CHECK(ac <= 0);
    if (ab == 0 && bc == 0)
        FUZZ_CHECK(ac == 0);

    const QString ta = Viewer::NumberKeyText(QString::fromLatin1(a)),
                  tb = Viewer::NumberKeyText(QString::fromLatin1(b));
    FUZZ_CHECK(ta.isEmpty() == !Viewer::ReadDecimal(a).has_value());
    if (belowKeyRange(a) && belowKeyRange(b))
        FUZZ_CHECK(ab == compareTexts(ta, tb));

    const Viewer::CoarseKey ka = Viewer::NumberKey(a), kb = Viewer::NumberKey(b);
    FUZZ_CHECK((ka.key == 0) == ta.isEmpty());
    if (ka.key != kb.key)
        FUZZ_CHECK(ab == compareValues(ka.key, kb.key));
    else if (ka.exact && kb.exact)
        FUZZ_CHECK(ab == 0);
}

void checkTexts(const QByteArray &a, const QByteArray &b)
{
    const int ab = Viewer::CompareTextCells(a, b);
    // QByteArray compares bytes unsigned; toUpper changes ASCII letters only.
    FUZZ_CHECK(ab == compareValues(a.toUpper(), b.toUpper()));
    const Viewer::CoarseKey ka = Viewer::TextKey(a), kb = Viewer::TextKey(b);
    if (ka.key != kb.key)
        FUZZ_CHECK(ab == compareValues(ka.key, kb.key));
    else if (ka.exact && kb.exact)
        FUZZ_CHECK(ab == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> cells = fuzz::bytesOf(data, size).split('\n');
    const QByteArray a = cells.value(0), b = cells.value(1), c = cells.value(2);
    checkDates(a, b);
    checkNumbers(a, b, c);
    checkTexts(a, b);
    const QString complemented = Viewer::ComplementDigits(QString::fromLatin1(a));
    FUZZ_CHECK(complemented.size() == a.size());
    return 0;
}
