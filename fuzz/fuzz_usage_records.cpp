// The usage readers on a data file of any content: the streaming line reader
// against a plain split of the same text cut in pieces of chosen sizes, and
// the month, day and first-month readings against a plain reading of the
// lines. Input: month, year, day, four piece sizes, kept length, stop line,
// then the file's bytes.
#include "FuzzNames.h"
#include "FuzzSupport.h"

#include "core/datafile/DataFileHandle.h"
#include "core/usage/DataFileLines.h"
#include "core/usage/ModeTable.h"
#include "core/usage/UsageCounting.h"
#include "core/usage/UsageTexts.h"

#include <cmath>

namespace {

constexpr size_t kParams = 9;

void checkLineReader(const QByteArray &text, const QList<int> &pieces, qsizetype keep, qsizetype stopAt)
{
    const QList<QByteArray> lines = fuzz::SplitLines(text);
    fuzz::ChunkedDevice device(text, pieces);
    qsizetype seen = 0;
    const bool ok = ForEachLinePrefix(
        device,
        [&](QByteArrayView line) {
            FUZZ_CHECK(seen < lines.size());
            const QByteArray &whole = lines[seen];
            // A line cut by the end of a piece is handed over to its first `keep` bytes.
            FUZZ_CHECK(line == whole || (whole.size() > keep && line == QByteArrayView(whole).first(keep)));
            ++seen;
            return seen != stopAt;
        },
        keep);
    FUZZ_CHECK(ok);
    FUZZ_CHECK(seen == (stopAt > 0 ? qMin(stopAt, lines.size()) : lines.size()));
}

bool isWhole(double v, int low, int high)
{
    return v >= low && v <= high && v == std::floor(v);
}

struct Expected
{
    bool pastEnd = true;
    Usage::PeriodRecords records;
};

// The reading a period should give, from the whole text split into lines.
Expected expectedPeriod(const QList<QByteArray> &lines, bool byDay, int day, int month, int year)
{
    Expected e;
    qsizetype i = 0;
    while (i < lines.size() && lines[i].startsWith("//"))
        ++i;
    if (i == lines.size())
        return e;
    e.pastEnd = false;
    for (++i; i < lines.size(); ++i) {
        const QByteArray &line = lines[i];
        if (line.isEmpty() || line.startsWith("FF"))
            continue;
        if (Usage::FieldNumber(line, 4, 5) != month || Usage::FieldNumber(line, 7, 8) != year)
            continue;
        const double d = Usage::FieldNumber(line, 1, 2);
        if (byDay && d != day)
            continue;
        Usage::PeriodRecords &r = e.records;
        if (r.n == 0)
            r.firstDate = line.left(8);
        r.lastDate = line.left(8);
        ++r.n;
        if (line.size() >= 19 && ModeTable::IndexOf(line[18]) >= 0)
            ++r.modeRecords[std::size_t(ModeTable::IndexOf(line[18]))];
        if (isWhole(d, 1, 31))
            r.dayMask |= 1u << int(d);
    }
    return e;
}

void checkPeriod(const Usage::PeriodReading &got, const Expected &want)
{
    FUZZ_CHECK(got.status == (want.pastEnd ? Usage::ReadStatus::PastEnd : Usage::ReadStatus::Ok));
    if (want.pastEnd)
        return;
    const Usage::PeriodRecords &g = got.records;
    const Usage::PeriodRecords &w = want.records;
    FUZZ_CHECK(g.n == w.n);
    FUZZ_CHECK(g.modeRecords == w.modeRecords);
    FUZZ_CHECK(g.dayMask == w.dayMask);
    FUZZ_CHECK((g.dayMask & 1u) == 0);
    if (w.n > 0) {
        FUZZ_CHECK(g.firstDate == w.firstDate);
        FUZZ_CHECK(g.lastDate == w.lastDate);
    }
    const Usage::ModeCounts counts = Usage::CountModes(g);
    FUZZ_CHECK(counts.total <= g.n);
}

// The month the analysis window opens on: the second line after the header
// when it is a usable record, otherwise the first usable one.
void checkFirstMonth(const Usage::FirstRecordMonth &got, const QList<QByteArray> &lines)
{
    qsizetype i = 0;
    while (i < lines.size() && lines[i].startsWith("//"))
        ++i;
    if (i == lines.size()) {
        FUZZ_CHECK(got.status == Usage::ReadStatus::PastEnd);
        return;
    }
    FUZZ_CHECK(got.ok());
    const QList<QByteArray> after = lines.mid(i + 1);
    auto usable = [](const QByteArray &l) {
        return !l.isEmpty() && !l.startsWith("FF") && isWhole(Usage::ReadNumber(QByteArrayView(l.mid(3, 2))), 1, 12)
            && isWhole(Usage::ReadNumber(QByteArrayView(l.mid(6, 2))), 0, 99);
    };
    qsizetype pick = -1;
    if (after.size() >= 2 && usable(after[1])) {
        pick = 1;
    } else {
        for (qsizetype k = 0; k < after.size() && pick < 0; ++k) {
            if (usable(after[k]))
                pick = k;
        }
    }
    FUZZ_CHECK(got.found == (pick >= 0));
    if (pick < 0)
        return;
    FUZZ_CHECK(got.monthText == after[pick].mid(3, 2));
    FUZZ_CHECK(got.yearText == after[pick].mid(6, 2));
    FUZZ_CHECK(got.month >= 1 && got.month <= 12 && got.year >= 0 && got.year <= 99);

    // The day image is named from these texts.
    LocatorIdentity id;
    id.user = QString::fromLatin1(after[pick]);
    const QString image
        = Usage::DayImageName(id, QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC),
                              QString::fromLatin1(after[pick].left(2)), got.month, QString::fromLatin1(got.yearText));
    FUZZ_CHECK(fuzz::safeName(image));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < kParams)
        return 0;
    const int month = data[0] % 14;
    const int year = data[1] % 100;
    const int day = data[2] % 33;
    const QList<int> pieces{data[3] + 1, data[4] + 1, data[5] + 1, data[6] + 1};
    const qsizetype keep = 1 + data[7] % 64;
    const qsizetype stopAt = data[8] % 8;  // 0: read to the end
    const QByteArray text = fuzz::bytesOf(data + kParams, size - kParams);

    checkLineReader(text, pieces, keep, stopAt);

    const QList<QByteArray> lines = fuzz::SplitLines(text);
    const QString path = fuzz::writeScratchFile(QStringLiteral("records.csv"), text);
    DataFileHandle slot;
    checkPeriod(Usage::ReadMonthRecords(slot, path, month, year), expectedPeriod(lines, false, 0, month, year));
    FUZZ_CHECK(!slot.isOpen());
    checkPeriod(Usage::ReadDayRecords(slot, path, day, month, year), expectedPeriod(lines, true, day, month, year));
    FUZZ_CHECK(!slot.isOpen());
    checkFirstMonth(Usage::ReadFirstRecordMonth(slot, path), lines);
    FUZZ_CHECK(!slot.isOpen());
    return 0;
}
