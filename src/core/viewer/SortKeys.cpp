#include "core/viewer/SortKeys.h"

#include <algorithm>

namespace Viewer {

namespace {

constexpr int KeyDigits = 30;  // integer and fraction digits of a number key
constexpr qint64 LargestPoint = 309;  // beyond any number a reading can hold
constexpr quint64 Billion = 1000000000ULL;
// Coarse number keys: the class in the top two bits, then a magnitude made of
// the integer part (below 10^9) and the first nine fraction digits.
constexpr quint64 MaxMagnitude = Billion * Billion;  // every integer part of 10^9 and more
constexpr quint64 EmptyClass = 0, NegativeClass = 1, PositiveClass = 2;

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Reads one to maxDigits digits; false if there is none.
bool readDigits(const char *&p, const char *end, int minDigits, int maxDigits, int &value)
{
    int n = 0;
    value = 0;
    while (p < end && isDigit(*p) && n < maxDigits) {
        value = value * 10 + (*p - '0');
        ++p;
        ++n;
    }
    return n >= minDigits;
}

bool expect(const char *&p, const char *end, char c)
{
    if (p < end && *p == c) {
        ++p;
        return true;
    }
    return false;
}

void skipBlanks(const char *&p, const char *end)
{
    while (p < end && isBlank(*p))
        ++p;
}

int daysInMonth(int year, int month)
{
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

QByteArray latin(QStringView text)
{
    return text.toLatin1();
}

char digitAt(const Decimal &d, qint64 pos)
{
    return pos >= 0 && pos < qint64(d.digits.size()) ? d.digits[std::size_t(pos)] : '0';
}

int compareMagnitude(const Decimal &a, const Decimal &b) noexcept
{
    const bool za = a.digits.empty(), zb = b.digits.empty();
    if (za || zb)
        return int(zb) - int(za);
    if (a.point != b.point)
        return a.point < b.point ? -1 : 1;
    const int c = a.digits.compare(b.digits);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int classOf(const std::optional<Decimal> &d) noexcept
{
    return !d ? int(EmptyClass) : (d->negative ? int(NegativeClass) : int(PositiveClass));
}

CoarseKey coarseFromDecimal(const std::optional<Decimal> &d)
{
    if (!d)
        return {0, true};
    quint64 magnitude = 0;
    bool exact = true;
    if (d->point > 9) {
        magnitude = MaxMagnitude;
        exact = false;
    } else {
        quint64 integer = 0;
        for (qint64 i = 0; i < d->point; ++i)
            integer = integer * 10 + quint64(digitAt(*d, i) - '0');
        quint64 fraction = 0;
        for (qint64 j = 0; j < 9; ++j)
            fraction = fraction * 10 + quint64(digitAt(*d, d->point + j) - '0');
        magnitude = integer * Billion + fraction;
        exact = qint64(d->digits.size()) <= d->point + 9;
    }
    if (d->negative)
        return {(NegativeClass << 62) | (MaxMagnitude - magnitude), exact};
    return {(PositiveClass << 62) | magnitude, exact};
}

// The common cells ("12", "1.25", "-3") without building a Decimal; nullopt
// when the cell needs the full reading (exponent, long integer part, more
// than 30 fraction digits) or is no number at all (`notNumber` set).
std::optional<CoarseKey> quickNumberKey(QByteArrayView cell, bool &notNumber)
{
    notNumber = false;
    const char *p = cell.data();
    const char *const end = p + cell.size();
    skipBlanks(p, end);
    bool minus = false;
    if (p < end && (*p == '+' || *p == '-'))
        minus = *p++ == '-';
    bool anyDigit = false;
    quint64 integer = 0;
    int significant = 0;
    while (p < end && isDigit(*p)) {
        anyDigit = true;
        const int d = *p++ - '0';
        if (integer == 0 && d == 0)
            continue;
        if (++significant > 9)
            return std::nullopt;
        integer = integer * 10 + quint64(d);
    }
    quint64 fraction = 0;
    int fractionDigits = 0;
    bool beyondNine = false;  // a non-zero digit past the ninth fraction digit
    if (p < end && *p == '.') {
        ++p;
        while (p < end && isDigit(*p)) {
            anyDigit = true;
            const int d = *p++ - '0';
            if (fractionDigits == KeyDigits)
                return std::nullopt;  // rounding to 30 digits needs the full reading
            if (fractionDigits < 9)
                fraction = fraction * 10 + quint64(d);
            else if (d != 0)
                beyondNine = true;
            ++fractionDigits;
        }
    }
    if (p < end && (*p == 'e' || *p == 'E'))
        return std::nullopt;
    skipBlanks(p, end);
    if (p != end || !anyDigit) {
        notNumber = true;
        return std::nullopt;
    }
    for (int i = fractionDigits; i < 9; ++i)
        fraction *= 10;
    const quint64 magnitude = integer * Billion + fraction;
    if (minus && (magnitude != 0 || beyondNine))
        return CoarseKey{(NegativeClass << 62) | (MaxMagnitude - magnitude), !beyondNine};
    return CoarseKey{(PositiveClass << 62) | magnitude, !beyondNine};
}

// Case folded for the text order: only ASCII letters have a case here.
unsigned char fold(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u >= 'a' && u <= 'z' ? u - ('a' - 'A') : u;
}

}  // namespace

QString ComplementDigits(QStringView text)
{
    QString out = text.toString();
    for (QChar &c : out) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            c = QChar(u'9' - (c.unicode() - u'0'));
        else if (c == QLatin1Char('-'))
            c = QLatin1Char(' ');
    }
    return out;
}

namespace {

struct DateTimeParts
{
    int year, month, day, hour, minute, second;
};

std::optional<DateTimeParts> readDateTime(QByteArrayView cell)
{
    const char *p = cell.data();
    const char *const end = p + cell.size();
    DateTimeParts t{};
    skipBlanks(p, end);
    if (!readDigits(p, end, 1, 2, t.day) || !expect(p, end, '/') || !readDigits(p, end, 1, 2, t.month)
        || !expect(p, end, '/') || !readDigits(p, end, 2, 2, t.year))
        return std::nullopt;
    if (p == end || !isBlank(*p))
        return std::nullopt;
    skipBlanks(p, end);
    if (!readDigits(p, end, 1, 2, t.hour) || !expect(p, end, ':') || !readDigits(p, end, 2, 2, t.minute)
        || !expect(p, end, ':') || !readDigits(p, end, 2, 2, t.second))
        return std::nullopt;
    skipBlanks(p, end);
    if (p != end)
        return std::nullopt;
    t.year += 2000;
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > daysInMonth(t.year, t.month) || t.hour > 23 || t.minute > 59
        || t.second > 59)
        return std::nullopt;
    return t;
}

}  // namespace

namespace {

quint64 keyOf(const DateTimeParts &t)
{
    // Seconds from the start of 2000, plus one: the same order as the
    // fourteen digits, in fewer bits, so the sort needs fewer passes.
    static constexpr int daysBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const int y = t.year - 2000;  // 0 to 99, and 2000 is a leap year
    qint64 days = qint64(y) * 365 + (y + 3) / 4 + daysBefore[t.month - 1] + (t.day - 1);
    if (t.month > 2 && daysInMonth(t.year, 2) == 29)
        ++days;
    return quint64(((days * 24 + t.hour) * 60 + t.minute) * 60 + t.second) + 1;
}

// "dd?dd?dd" with digits where the d are: the two-digit parts of a field as
// the locator writes it.
bool twoDigitParts(QByteArrayView f, char separator, int &a, int &b, int &c)
{
    if (f.size() != 8 || f[2] != separator || f[5] != separator)
        return false;
    for (const int i : {0, 1, 3, 4, 6, 7}) {
        if (!isDigit(f[i]))
            return false;
    }
    a = (f[0] - '0') * 10 + (f[1] - '0');
    b = (f[3] - '0') * 10 + (f[4] - '0');
    c = (f[6] - '0') * 10 + (f[7] - '0');
    return true;
}

}  // namespace

quint64 DateKey(QByteArrayView cell)
{
    const std::optional<DateTimeParts> t = readDateTime(cell);
    return t ? keyOf(*t) : 0;
}

quint64 DateKey(QByteArrayView dateField, QByteArrayView timeField)
{
    DateTimeParts t{};
    if (twoDigitParts(dateField, '/', t.day, t.month, t.year)
        && twoDigitParts(timeField, ':', t.hour, t.minute, t.second)) {
        t.year += 2000;
        if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > daysInMonth(t.year, t.month) || t.hour > 23
            || t.minute > 59 || t.second > 59)
            return 0;
        return keyOf(t);
    }
    // Anything else is read as the cell it makes.
    std::string cell(dateField.data(), std::size_t(dateField.size()));
    cell.append("   ");
    cell.append(timeField.data(), std::size_t(timeField.size()));
    return DateKey(QByteArrayView(cell.data(), qsizetype(cell.size())));
}

QString DateKeyText(QStringView cell)
{
    const std::optional<DateTimeParts> t = readDateTime(latin(cell));
    if (!t)
        return {};
    return QStringLiteral("%1%2%3%4%5%6")
        .arg(t->year, 4, 10, QLatin1Char('0'))
        .arg(t->month, 2, 10, QLatin1Char('0'))
        .arg(t->day, 2, 10, QLatin1Char('0'))
        .arg(t->hour, 2, 10, QLatin1Char('0'))
        .arg(t->minute, 2, 10, QLatin1Char('0'))
        .arg(t->second, 2, 10, QLatin1Char('0'));
}

std::optional<Decimal> ReadDecimal(QByteArrayView cell)
{
    const char *p = cell.data();
    const char *const end = p + cell.size();
    skipBlanks(p, end);
    bool minus = false;
    if (p < end && (*p == '+' || *p == '-'))
        minus = *p++ == '-';
    Decimal d;
    qint64 integerDigits = 0;
    bool anyDigit = false;
    while (p < end && isDigit(*p)) {
        d.digits.push_back(*p++);
        ++integerDigits;
        anyDigit = true;
    }
    if (p < end && *p == '.') {
        ++p;
        while (p < end && isDigit(*p)) {
            d.digits.push_back(*p++);
            anyDigit = true;
        }
    }
    if (!anyDigit)
        return std::nullopt;
    qint64 exponent = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        bool expMinus = false;
        if (p < end && (*p == '+' || *p == '-'))
            expMinus = *p++ == '-';
        if (p == end || !isDigit(*p))
            return std::nullopt;
        while (p < end && isDigit(*p)) {
            exponent = std::min<qint64>(exponent * 10 + (*p++ - '0'), 1000000000);
        }
        if (expMinus)
            exponent = -exponent;
    }
    skipBlanks(p, end);
    if (p != end)
        return std::nullopt;

    d.point = integerDigits + exponent;
    const std::size_t lead = std::min(d.digits.find_first_not_of('0'), d.digits.size());
    d.digits.erase(0, lead);
    d.point -= qint64(lead);
    d.digits.erase(d.digits.find_last_not_of('0') + 1);
    if (d.digits.empty()) {
        d.point = 0;
        return d;
    }
    if (d.point > LargestPoint)
        return std::nullopt;
    d.negative = minus;

    // Round half up to 30 fraction digits.
    const qint64 keep = d.point + KeyDigits;
    if (keep < 0) {
        d.digits.clear();
    } else if (keep < qint64(d.digits.size())) {
        const bool up = d.digits[std::size_t(keep)] >= '5';
        d.digits.resize(std::size_t(keep));
        if (up) {
            qint64 i = keep - 1;
            while (i >= 0 && d.digits[std::size_t(i)] == '9')
                d.digits[std::size_t(i--)] = '0';
            if (i >= 0) {
                ++d.digits[std::size_t(i)];
            } else {
                d.digits.insert(d.digits.begin(), '1');
                ++d.point;
            }
        }
        d.digits.erase(d.digits.find_last_not_of('0') + 1);
    }
    if (d.digits.empty())
        d.point = 0;
    return d;
}

QString NumberKeyText(QStringView cell)
{
    const std::optional<Decimal> d = ReadDecimal(latin(cell));
    if (!d)
        return {};
    QString integer;
    for (qint64 i = 0; i < d->point; ++i)
        integer.append(QLatin1Char(digitAt(*d, i)));
    if (integer.size() < KeyDigits)
        integer.prepend(QString(KeyDigits - integer.size(), QLatin1Char('0')));
    QString fraction;
    for (qint64 j = 0; j < KeyDigits; ++j)
        fraction.append(QLatin1Char(digitAt(*d, d->point + j)));
    const QString written = integer + QLatin1Char('.') + fraction;
    return d->negative ? QLatin1Char('&') + ComplementDigits(written) : written;
}

CoarseKey NumberKey(QByteArrayView cell)
{
    bool notNumber = false;
    if (const std::optional<CoarseKey> quick = quickNumberKey(cell, notNumber))
        return *quick;
    if (notNumber)
        return {0, true};
    return coarseFromDecimal(ReadDecimal(cell));
}

int CompareNumberCells(QByteArrayView a, QByteArrayView b)
{
    return CompareDecimals(ReadDecimal(a), ReadDecimal(b));
}

int CompareDecimals(const std::optional<Decimal> &da, const std::optional<Decimal> &db) noexcept
{
    const int ca = classOf(da), cb = classOf(db);
    if (ca != cb)
        return ca < cb ? -1 : 1;
    if (ca == int(EmptyClass))
        return 0;
    const int m = compareMagnitude(*da, *db);
    return ca == int(NegativeClass) ? -m : m;
}

CoarseKey TextKey(QByteArrayView cell)
{
    // Seven folded bytes, then the length up to 8: exact for texts shorter
    // than eight characters, and never against the full order for longer ones.
    quint64 key = 0;
    for (qsizetype i = 0; i < 7; ++i)
        key = (key << 8) | (i < cell.size() ? fold(cell[i]) : 0u);
    const qsizetype len = std::min<qsizetype>(cell.size(), 8);
    return {(key << 8) | quint64(len), cell.size() < 8};
}

int CompareTextCells(QByteArrayView a, QByteArrayView b) noexcept
{
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const unsigned char x = fold(a[i]), y = fold(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace Viewer
