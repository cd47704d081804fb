// locator-cli report: usage per mode from data files, with the windows' accounting.
#include "cli/CommandLine.h"

#include "core/archive/UsageReport.h"
#include "core/datafile/DataFileHandle.h"
#include "core/datafile/DataFileHeader.h"
#include "core/usage/UsageByMonth.h"
#include "core/usage/UsageCounting.h"
#include "core/usage/UsageTexts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>

namespace Cli {

namespace {

const char kHelp[] = "Usage: locator-cli report FILE... [--month MM/YYYY | --day DD/MM/YYYY]\n"
                     "                          [--format text|csv|json]\n"
                     "\n"
                     "Usage time per mode (DarAdar, Transmitter, Radio, Power) and in total, for\n"
                     "the month or day given, or for every month of each file when no period is\n"
                     "given. Every record is one second of use in its mode. Several files are\n"
                     "reported one after another, then summed.\n"
                     "\n"
                     "Options:\n"
                     "  --month MM/YYYY   the month to report (years 2000 to 2099)\n"
                     "  --day DD/MM/YYYY  the day to report\n"
                     "  --format F        text (the default), csv or json\n"
                     "\n"
                     "CSV columns: file, model, serial, user, period, mode, seconds, duration;\n"
                     "the summed rows have an empty file. Periods are YYYY-MM, YYYY-MM-DD or\n"
                     "\"all\" (every month of the file together).\n";

enum class Format { Text, Csv, Json };  // as --format names them, in this order

struct Period
{
    QString key;  // "2026-03", "2026-03-05" or "all"
    QString label;  // "March 2026", "05/03/2026", "All months"
    qint64 records = 0;
    Usage::ModeCounts counts;
    QString noData;  // what the windows say when the period has no record

    void add(const Period &other)
    {
        records += other.records;
        for (std::size_t i = 0; i < counts.counts.size(); ++i)
            counts.counts[i] += other.counts.counts[i];
        counts.total += other.counts.total;
    }
};

struct Block
{
    QString file;  // empty for the sum of the files
    LocatorIdentity identity;
    QList<Period> periods;
    qint64 undated = 0;
};

struct Request
{
    enum Kind { Month, Day, AllMonths } kind = AllMonths;
    int month = 0;
    int year = 0;  // four digits
    QDate day;
};

QString monthKey(int month, int year)
{
    return QStringLiteral("%1-%2").arg(year).arg(month, 2, 10, QLatin1Char('0'));
}

Period monthPeriod(int month, int twoDigitYear, const Usage::PeriodRecords &set)
{
    Period p;
    p.key = monthKey(month, 2000 + twoDigitYear);
    p.label = Usage::MonthName(month) + QLatin1Char(' ') + Usage::YearText(twoDigitYear);
    p.records = set.n;
    p.counts = Usage::CountModes(set);
    p.noData = Usage::NoDataForMonthText(month, twoDigitYear);
    return p;
}

// Reads one file; false with *error set when it cannot be read.
bool readFile(const QString &path, const Request &request, Block *block, QString *error)
{
    DataFileHandle slot;
    block->file = path;
    Usage::ReadOutcome outcome;
    if (request.kind == Request::AllMonths) {
        const Usage::AllMonthsReading all = Usage::ReadAllMonths(slot, path);
        outcome = all;
        Period whole;
        whole.key = QStringLiteral("all");
        whole.label = QStringLiteral("All months");
        whole.noData = QStringLiteral("No data in the file");
        for (const Usage::MonthUsage &m : all.months) {
            block->periods.append(monthPeriod(m.month, m.year, m.records));
            whole.add(block->periods.last());
        }
        block->periods.append(whole);
        block->undated = all.undated;
    } else if (request.kind == Request::Month) {
        const Usage::PeriodReading r = Usage::ReadMonthRecords(slot, path, request.month, request.year % 100);
        outcome = r;
        block->periods.append(monthPeriod(request.month, request.year % 100, r.records));
    } else {
        const QDate d = request.day;
        const Usage::PeriodReading r = Usage::ReadDayRecords(slot, path, d.day(), d.month(), d.year() % 100);
        outcome = r;
        Period p;
        p.key = d.toString(QStringLiteral("yyyy-MM-dd"));
        p.label = d.toString(QStringLiteral("dd/MM/yyyy"));
        p.records = r.records.n;
        p.counts = Usage::CountModes(r.records);
        p.noData = Usage::NoDataForDayText();
        block->periods.append(p);
    }
    if (!outcome.ok()) {
        *error = ReadFailureLine(outcome, path);
        return false;
    }
    QByteArray header;
    if (DataFileHeader::ReadHeaderLine(slot, path, &header))
        block->identity = Printable(DataFileHeader::IdentityFromHeaderLine(header));
    return true;
}

Block sumOf(const QList<Block> &blocks)
{
    Block sum;
    QMap<QString, Period> months;  // keys sort as dates
    Period whole;
    bool haveWhole = false;
    for (const Block &b : blocks) {
        sum.undated += b.undated;
        for (const Period &p : b.periods) {
            if (p.key == QLatin1String("all")) {
                if (!haveWhole) {
                    whole = p;
                    haveWhole = true;
                } else {
                    whole.add(p);
                }
                continue;
            }
            auto it = months.find(p.key);
            if (it == months.end())
                months.insert(p.key, p);
            else
                it->add(p);
        }
    }
    sum.periods = months.values();
    if (haveWhole) {
        whole.noData = QStringLiteral("No data in the files");
        sum.periods.append(whole);
    }
    return sum;
}

QString identityLine(const LocatorIdentity &id)
{
    return QStringLiteral("Locator ") + id.model + QStringLiteral(", Serial no. ") + id.serialNo
        + QStringLiteral(". User: ") + id.user;
}

void printText(Context &ctx, const Block &b, int fileCount)
{
    QString text;
    if (b.file.isEmpty()) {
        text += QStringLiteral("All %1 files\n").arg(fileCount);
    } else {
        text += QStringLiteral("File: %1\n").arg(Native(b.file));
        text += identityLine(b.identity) + QLatin1Char('\n');
    }
    for (const Period &p : b.periods) {
        text += p.label + QLatin1Char('\n');
        if (p.records == 0) {
            text += QStringLiteral("  ") + p.noData + QLatin1Char('\n');
            continue;
        }
        for (int i = 0; i < ModeTable::Count; ++i)
            text += QStringLiteral("  %1%2\n")
                        .arg(ModeName(i), -13)
                        .arg(Usage::PieDurationText(p.counts.counts[std::size_t(i)]));
        text
            += QStringLiteral("  %1%2\n").arg(QStringLiteral("Total"), -13).arg(Usage::PieDurationText(p.counts.total));
    }
    if (b.undated > 0)
        text += QStringLiteral("%1 lines name no calendar month and are in no month\n").arg(b.undated);
    ctx.print(text + QLatin1Char('\n'));
}

void printCsv(Context &ctx, const Block &b)
{
    const QString who = Archive::CsvText(b.file.isEmpty() ? QString() : Native(b.file)) + QLatin1Char(',')
        + Archive::CsvText(b.identity.model) + QLatin1Char(',') + Archive::CsvText(b.identity.serialNo)
        + QLatin1Char(',') + Archive::CsvText(b.identity.user) + QLatin1Char(',');
    QString text;
    for (const Period &p : b.periods) {
        auto row = [&](const QString &mode, qint64 seconds) {
            text += who + p.key + QLatin1Char(',') + mode + QLatin1Char(',') + QString::number(seconds)
                + QLatin1Char(',') + Usage::PieDurationText(seconds) + QLatin1Char('\n');
        };
        for (int i = 0; i < ModeTable::Count; ++i)
            row(ModeName(i), p.counts.counts[std::size_t(i)]);
        row(QStringLiteral("Total"), p.counts.total);
    }
    ctx.print(text);
}

QJsonObject jsonOf(const Block &b)
{
    QJsonObject o;
    if (!b.file.isEmpty()) {
        o.insert(QStringLiteral("file"), Native(b.file));
        o.insert(QStringLiteral("identity"),
                 QJsonObject{{QStringLiteral("model"), b.identity.model},
                             {QStringLiteral("serial"), b.identity.serialNo},
                             {QStringLiteral("user"), b.identity.user}});
    }
    auto usage = [](qint64 seconds) {
        return QJsonObject{{QStringLiteral("seconds"), double(seconds)},
                           {QStringLiteral("duration"), Usage::PieDurationText(seconds)}};
    };
    QJsonArray periods;
    for (const Period &p : b.periods) {
        QJsonObject modes;
        for (int i = 0; i < ModeTable::Count; ++i)
            modes.insert(ModeName(i), usage(p.counts.counts[std::size_t(i)]));
        periods.append(QJsonObject{{QStringLiteral("period"), p.key},
                                   {QStringLiteral("label"), p.label},
                                   {QStringLiteral("records"), double(p.records)},
                                   {QStringLiteral("modes"), modes},
                                   {QStringLiteral("total"), usage(p.counts.total)}});
    }
    o.insert(QStringLiteral("periods"), periods);
    o.insert(QStringLiteral("undated"), double(b.undated));
    return o;
}

// --month or --day; false after saying what is wrong.
bool readRequest(CommandLine &line, Request *request)
{
    if (line.isSet("month") && line.isSet("day")) {
        line.context().usage(QStringLiteral("give --month or --day, not both"));
        return false;
    }
    if (line.isSet("month"))
        request->kind = Request::Month;
    else if (line.isSet("day"))
        request->kind = Request::Day;
    return line.readMonth(&request->month, &request->year)
        && line.readDate("day", CommandLine::DateForm::Long, &request->day);
}

}  // namespace

int RunReport(Context &ctx, const QStringList &arguments)
{
    CommandLine line(ctx, kHelp, {{"month", "MM/YYYY"}, {"day", "DD/MM/YYYY"}, {"format", "F", "text"}});
    if (!line.parse(arguments, CommandLine::Arguments::Any))
        return ctx.status();
    const std::optional<QStringList> files = line.dataFiles();
    if (!files)
        return ctx.status();
    Request request;
    if (!readRequest(line, &request))
        return ctx.status();
    const std::optional<int> chosen = line.choice("format", {"text", "csv", "json"});
    if (!chosen)
        return ctx.status();
    const Format format = Format(*chosen);

    // Every file is read before anything is printed: a sum that left out a
    // file that could not be read would look complete.
    QList<Block> blocks;
    bool failed = false;
    for (const QString &file : *files) {
        Block block;
        QString error;
        if (readFile(file, request, &block, &error)) {
            blocks.append(block);
        } else {
            ctx.fail(error);
            failed = true;
        }
    }
    if (failed)
        return ctx.status();
    if (blocks.size() > 1)
        blocks.append(sumOf(blocks));

    const int fileCount = int(files->size());
    switch (format) {
    case Format::Text:
        for (const Block &b : blocks)
            printText(ctx, b, fileCount);
        break;
    case Format::Csv:
        ctx.print(QStringLiteral("file,model,serial,user,period,mode,seconds,duration\n"));
        for (const Block &b : blocks)
            printCsv(ctx, b);
        break;
    case Format::Json: {
        QJsonArray fileArray;
        for (qsizetype i = 0; i < fileCount; ++i)
            fileArray.append(jsonOf(blocks[i]));
        QJsonObject root{{QStringLiteral("files"), fileArray}};
        if (blocks.size() > fileCount)
            root.insert(QStringLiteral("sum"), jsonOf(blocks.last()));
        ctx.write(QJsonDocument(root).toJson(QJsonDocument::Indented));
        break;
    }
    }
    return Success;
}

}  // namespace Cli
