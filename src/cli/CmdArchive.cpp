// locator-cli archive: the fleet usage archive (import data files, report usage).
#include "cli/ArchiveSupport.h"

#include "cli/CommandLine.h"
#include "core/archive/ArchiveUsage.h"
#include "core/archive/UsageReport.h"
#include "core/usage/ModeTable.h"
#include "core/usage/UsageTexts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace Cli {

namespace {

const char kHelp[]
    = "Usage: locator-cli archive import FILE|DIR... [--database DB]\n"
      "       locator-cli archive report [--from DD/MM/YYYY] [--to DD/MM/YYYY]\n"
      "                                  [--by locator|user|month|day]...\n"
      "                                  [--format text|csv|json|html] [--database DB]\n"
      "       locator-cli archive conflicts [--format text|csv] [--database DB]\n"
      "       locator-cli archive check [--database DB]\n"
      "\n"
      "The usage archive keeps every record of the data files imported into it\n"
      "once, keyed by the locator's serial number and the record's date and time,\n"
      "so usage over many (overlapping) transfers counts each logged second once.\n"
      "\n"
      "import   adds data files (a folder: its .csv files), one transaction per file.\n"
      "         Prints per file the records new to the archive, those it already\n"
      "         held (duplicate), the lines that are no record (skipped) and the\n"
      "         records it held for the same second with other content (conflicts;\n"
      "         the first one stays and counts; the other is kept). A file imported\n"
      "         before is recognised at once. A file of several transfers one after\n"
      "         the other files each under its own locator. A file a transfer is\n"
      "         still writing is refused. A file that cannot be read is reported and\n"
      "         the others go on.\n"
      "report   usage per mode and in total, grouped by each --by in turn, and how\n"
      "         many seconds have conflicting records.\n"
      "conflicts the conflicting records kept: serial, date, time, the archived\n"
      "         record, the conflicting one, the file it came from.\n"
      "check    verifies that the daily totals are what the records say (exit\n"
      "         status 1, naming the first difference, when not).\n"
      "\n"
      "Options:\n" LOCATOR_DATABASE_HELP "  --from, --to      the first and last day reported (years 2000 to 2099)\n"
      "  --by G            locator, user, month or day; repeat to group further\n"
      "  --format F        text (the default), csv, json or html (one page with charts);\n"
      "                    conflicts: text or csv\n"
      "\n"
      "CSV columns: the --by columns (locator adds model), then mode, seconds,\n"
      "duration; the last rows, with empty group columns, are the whole period.\n"
      "Conflicts CSV columns: serial, date, time, archived, conflicting, file.\n"
      "Text in CSV that begins with =, +, - or @ is written after a ' so that a\n"
      "spreadsheet shows it rather than running it.\n";

enum class Format { Text, Csv, Json, Html };  // as --format names them, in this order

}  // namespace

bool OpenArchive(Context &ctx, const QString &option, Archive::Store *store, Archive::Store::OpenMode mode)
{
    Archive::Location location;
    QString error;
    if (!Archive::ChooseLocation(option, &location, &error)) {
        ctx.fail(error);
        return false;
    }
    if (!store->open(location, &error, mode)) {
        ctx.fail(error);
        return false;
    }
    return true;
}

static QString countsText(const Archive::ImportCounts &c)
{
    return QStringLiteral("%1 new, %2 duplicate, %3 skipped, %4 conflicts")
        .arg(c.added)
        .arg(c.duplicates)
        .arg(c.skipped)
        .arg(c.conflicts);
}

bool ImportDataFile(Context &ctx, Archive::Store &store, const QString &file, Archive::ImportCounts *counts,
                    const QString &lead)
{
    const Archive::ImportResult r = store.importFile(file);
    if (r.status == Archive::ImportResult::Failed) {
        ctx.warn(r.error);
        return false;
    }
    *counts = r.counts;
    QString note;
    if (r.status == Archive::ImportResult::AlreadyImported) {
        // Every record of the file is in the archive already.
        counts->duplicates += counts->added;
        counts->added = 0;
        note = QStringLiteral(" (already imported)");
    }
    if (r.transfers.size() > 1) {
        QStringList serials;
        for (const LocatorIdentity &id : r.transfers)
            serials << Printable(id.serialNo);
        note += QStringLiteral(" (%1 transfers: serial no. %2)").arg(r.transfers.size()).arg(serials.join(", "));
    }
    ctx.endProgress();
    ctx.print(lead + QStringLiteral("%1: %2%3\n").arg(Native(file), countsText(*counts), note));
    return true;
}

namespace {

// The files named: a folder stands for its .csv files, in name order.
int runImport(Context &ctx, const QString &database, const QStringList &arguments)
{
    if (arguments.isEmpty())
        return ctx.usage(QStringLiteral("no data file or folder given"));
    Archive::Store store;
    if (!OpenArchive(ctx, database, &store, Archive::Store::CreateIfMissing))
        return ctx.status();
    const QStringList files = Archive::DataFilesIn(arguments);
    Archive::ImportCounts sum;
    int failed = 0;
    int done = 0;
    for (const QString &file : files) {
        ctx.progress(QStringLiteral("Importing %1 (%2 of %3)").arg(Native(file)).arg(done + 1).arg(files.size()), true);
        Archive::ImportCounts counts;
        ++done;
        if (!ImportDataFile(ctx, store, file, &counts)) {
            ++failed;
            continue;
        }
        sum += counts;
    }
    ctx.endProgress();
    ctx.print(QStringLiteral("%1 of %2 files imported: %3\n")
                  .arg(files.size() - failed)
                  .arg(files.size())
                  .arg(countsText(sum)));
    if (sum.conflicts > 0)
        ctx.print(QStringLiteral("%1 records are in conflict with archived ones: the archived ones count, the others "
                                 "are kept (locator-cli archive conflicts lists them)\n")
                      .arg(sum.conflicts));
    if (failed > 0)
        return ctx.fail(QStringLiteral("%1 of %2 files could not be imported").arg(failed).arg(files.size()));
    return Success;
}

QString conflictsNote(qint64 seconds)
{
    return QStringLiteral("%1 seconds have conflicting records; the archived ones are counted (locator-cli archive "
                          "conflicts lists them)")
        .arg(seconds);
}

int runConflicts(Context &ctx, const QString &database, const QStringList &arguments)
{
    CommandLine line(ctx, kHelp, {{"format", "F", "text"}});
    if (!line.parse(arguments, CommandLine::Arguments::None))
        return ctx.status();
    const std::optional<int> chosen = line.choice("format", {"text", "csv"});
    if (!chosen)
        return ctx.status();
    Archive::Store store;
    if (!OpenArchive(ctx, database, &store, Archive::Store::ExistingOnly))
        return ctx.status();
    QList<Archive::Conflict> conflicts;
    QString error;
    if (!store.conflicts(&conflicts, &error))
        return ctx.fail(QStringLiteral("cannot read the archive %1: %2").arg(store.location().display(), error));
    QString text;
    if (Format(*chosen) == Format::Csv) {
        text = QStringLiteral("serial,date,time,archived,conflicting,file\n");
        for (const Archive::Conflict &c : conflicts) {
            text += Archive::CsvText(c.serial) + QLatin1Char(',')
                + c.second.toString(QStringLiteral("dd/MM/yyyy,HH:mm:ss")) + QLatin1Char(',')
                + Archive::CsvText(c.archived) + QLatin1Char(',') + Archive::CsvText(c.conflicting) + QLatin1Char(',')
                + Archive::CsvText(c.file) + QLatin1Char('\n');
        }
    } else if (conflicts.isEmpty()) {
        text = QStringLiteral("No conflicting records in the archive\n");
    } else {
        for (const Archive::Conflict &c : conflicts) {
            text += QStringLiteral("Serial no. %1 %2: archived %3, conflicting %4 (from %5)\n")
                        .arg(Printable(c.serial), c.second.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")),
                             Printable(c.archived), Printable(c.conflicting), Printable(c.file));
        }
    }
    ctx.print(text);
    return Success;
}

int runCheck(Context &ctx, const QString &database, const QStringList &arguments)
{
    CommandLine line(ctx, kHelp, {});
    if (!line.parse(arguments, CommandLine::Arguments::None))
        return ctx.status();
    Archive::Store store;
    if (!OpenArchive(ctx, database, &store, Archive::Store::ExistingOnly))
        return ctx.status();
    QString mismatch, error;
    if (store.checkTotals(&mismatch, &error)) {
        const qint64 records = store.recordCount(&error);
        ctx.print(QStringLiteral("The daily totals agree with the %1 records\n").arg(records));
        return Success;
    }
    if (!error.isEmpty())
        return ctx.fail(QStringLiteral("cannot read the archive %1: %2").arg(store.location().display(), error));
    return ctx.fail(Printable(mismatch));
}

QString groupLabel(const Archive::UsageGroup &g, const QList<Archive::GroupBy> &by)
{
    QStringList parts;
    for (Archive::GroupBy b : by) {
        switch (b) {
        case Archive::GroupBy::Locator:
            parts << QStringLiteral("Serial no. %1 (%2)").arg(Printable(g.serial), Printable(g.model));
            break;
        case Archive::GroupBy::User:
            parts << QStringLiteral("User: %1").arg(Printable(g.user));
            break;
        case Archive::GroupBy::Month:
            parts << Usage::MonthName(g.month.month()) + QLatin1Char(' ') + QString::number(g.month.year());
            break;
        case Archive::GroupBy::Day:
            parts << g.day.toString(QStringLiteral("dd/MM/yyyy"));
            break;
        }
    }
    return parts.join(QStringLiteral(", "));
}

void printText(Context &ctx, const QString &period, const QList<Archive::GroupBy> &by,
               const QList<Archive::UsageGroup> &groups, const Archive::UsageGroup &whole)
{
    QString text = period + QLatin1Char('\n');
    auto block = [&](const QString &label, const Archive::UsageGroup &g) {
        text += label + QLatin1Char('\n');
        if (g.records == 0) {
            text += QStringLiteral("  No archived usage\n");
            return;
        }
        for (int i = 0; i < ModeTable::Count; ++i)
            text += QStringLiteral("  %1%2\n")
                        .arg(ModeName(i), -13)
                        .arg(Usage::PieDurationText(g.seconds[std::size_t(i)]));
        text += QStringLiteral("  %1%2\n").arg(QStringLiteral("Total"), -13).arg(Usage::PieDurationText(g.total));
    };
    if (!by.isEmpty()) {
        for (const Archive::UsageGroup &g : groups)
            block(groupLabel(g, by), g);
    }
    block(QStringLiteral("All"), whole);
    ctx.print(text);
}

QJsonObject jsonUsage(const Archive::UsageGroup &g)
{
    auto usage = [](qint64 seconds) {
        return QJsonObject{{QStringLiteral("seconds"), double(seconds)},
                           {QStringLiteral("duration"), Usage::PieDurationText(seconds)}};
    };
    QJsonObject modes;
    for (int i = 0; i < ModeTable::Count; ++i)
        modes.insert(ModeName(i), usage(g.seconds[std::size_t(i)]));
    return QJsonObject{{QStringLiteral("records"), double(g.records)},
                       {QStringLiteral("modes"), modes},
                       {QStringLiteral("total"), usage(g.total)}};
}

int runReport(Context &ctx, const QString &database, const QStringList &arguments)
{
    CommandLine line(ctx, kHelp, {{"from", "DD/MM/YYYY"}, {"to", "DD/MM/YYYY"}, {"by", "G"}, {"format", "F", "text"}});
    if (!line.parse(arguments, CommandLine::Arguments::Any))
        return ctx.status();
    if (!line.arguments().isEmpty())
        return ctx.usage(QStringLiteral("report takes no file; import files first"));
    QDate from, to;
    if (!line.readDate("from", CommandLine::DateForm::Long, &from)
        || !line.readDate("to", CommandLine::DateForm::Long, &to))
        return ctx.status();
    if (from.isValid() && to.isValid() && to < from)
        return ctx.usage(QStringLiteral("--to is before --from"));
    QList<Archive::GroupBy> by;
    for (const QString &text : line.values("by")) {
        Archive::GroupBy b;
        if (!Archive::ParseGroupBy(text, &b))
            return ctx.usage(QStringLiteral("--by takes locator, user, month or day, not '%1'").arg(text));
        if (!by.contains(b))
            by << b;
    }
    const std::optional<int> chosen = line.choice("format", {"text", "csv", "json", "html"});
    if (!chosen)
        return ctx.status();
    const Format format = Format(*chosen);

    Archive::Store store;
    if (!OpenArchive(ctx, database, &store, Archive::Store::ExistingOnly))
        return ctx.status();
    QList<Archive::UsageDay> days;
    QString error;
    if (!store.usage(from, to, &days, &error))
        return ctx.fail(QStringLiteral("cannot read the archive %1: %2").arg(store.location().display(), error));
    const QList<Archive::UsageGroup> groups = Archive::GroupUsage(days, by);
    const Archive::UsageGroup whole = Archive::GroupUsage(days, {}).value(0);
    const QString period = Archive::PeriodText(from, to);
    const qint64 conflicts = store.conflictSeconds(from, to, &error);
    if (conflicts < 0)
        return ctx.fail(QStringLiteral("cannot read the archive %1: %2").arg(store.location().display(), error));

    if (format == Format::Text) {
        printText(ctx, period, by, groups, whole);
        if (conflicts > 0)
            ctx.print(conflictsNote(conflicts) + QLatin1Char('\n'));
    } else if (format == Format::Csv) {
        ctx.print(Archive::UsageCsv(by, groups, whole));
        // The table stays a table: the note goes beside it.
        if (conflicts > 0)
            ctx.warn(conflictsNote(conflicts));
    } else if (format == Format::Json) {
        QJsonArray byArray;
        for (Archive::GroupBy b : by)
            byArray.append(Archive::GroupByName(b));
        QJsonArray groupArray;
        for (const Archive::UsageGroup &g : groups) {
            QJsonObject o = jsonUsage(g);
            for (Archive::GroupBy b : by) {
                o.insert(Archive::GroupByName(b), g.keyText(b));
                if (b == Archive::GroupBy::Locator)
                    o.insert(QStringLiteral("model"), g.model);
            }
            groupArray.append(o);
        }
        QJsonObject root{{QStringLiteral("period"), period},
                         {QStringLiteral("from"), from.isValid() ? from.toString(Qt::ISODate) : QString()},
                         {QStringLiteral("to"), to.isValid() ? to.toString(Qt::ISODate) : QString()},
                         {QStringLiteral("by"), byArray},
                         {QStringLiteral("groups"), by.isEmpty() ? QJsonArray() : groupArray},
                         {QStringLiteral("total"), jsonUsage(whole)},
                         {QStringLiteral("conflictSeconds"), double(conflicts)}};
        ctx.write(QJsonDocument(root).toJson(QJsonDocument::Indented));
    } else {
        ctx.print(Archive::UsageHtmlPage(period, by, by.isEmpty() ? QList<Archive::UsageGroup>{whole} : groups, days,
                                         conflicts > 0 ? conflictsNote(conflicts) : QString()));
    }
    return Success;
}

}  // namespace

int RunArchive(Context &ctx, const QStringList &arguments)
{
    // --database may stand anywhere; the rest belongs to the action.
    QString database;
    const std::optional<QStringList> rest = TakeOption(ctx, arguments, Options::Database, &database);
    if (!rest)
        return ctx.status();
    const QString action = rest->value(0);
    if (action.isEmpty() || action == QLatin1String("--help") || action == QLatin1String("-h")) {
        if (action.isEmpty())
            return ctx.usage(QStringLiteral("give import, report, conflicts or check"));
        ctx.print(QString::fromLatin1(kHelp));
        return Success;
    }
    if (action == QLatin1String("import")) {
        const QStringList files = rest->mid(1);
        if (files.contains(QStringLiteral("--help")) || files.contains(QStringLiteral("-h"))) {
            ctx.print(QString::fromLatin1(kHelp));
            return Success;
        }
        return runImport(ctx, database, files);
    }
    if (action == QLatin1String("report"))
        return runReport(ctx, database, rest->mid(1));
    if (action == QLatin1String("conflicts"))
        return runConflicts(ctx, database, rest->mid(1));
    if (action == QLatin1String("check"))
        return runCheck(ctx, database, rest->mid(1));
    return ctx.usage(QStringLiteral("unknown archive action '%1' (import, report, conflicts or check)").arg(action));
}

}  // namespace Cli
