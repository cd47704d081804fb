// locator-cli view: a data file's records as the viewer lists them, as CSV,
// ordered by the viewer's own sort keys.
#include "cli/CommandLine.h"

#include "core/datafile/DataFileHandle.h"
#include "core/viewer/RowSort.h"
#include "core/viewer/ViewerColumns.h"
#include "core/viewer/ViewerRecords.h"

#include <numeric>
#include <string>

namespace Cli {

namespace {

const char kHelp[] = "Usage: locator-cli view FILE [--sort COLUMN [--desc]]\n"
                     "\n"
                     "Writes every record of the data file as the data viewer lists it, one CSV\n"
                     "row each: Date (date, three blanks, time), Mode, Frequency, Measurement,\n"
                     "Depth, Signal Strength, with a heading row. Rows stay in file order unless\n"
                     "sorted.\n"
                     "\n"
                     "Options:\n"
                     "  --sort COLUMN   sort by a column, named as in the heading (any letter\n"
                     "                  case; \"signal-strength\" also works) or numbered 1 to 6;\n"
                     "                  dates sort by date and time, numbers by value, other\n"
                     "                  cells first; rows with equal keys keep their order\n"
                     "  --desc          sort in descending order\n";

QString headerText(int column)
{
    const std::string_view h = Viewer::Columns[std::size_t(column)].header;
    return QString::fromLatin1(h.data(), qsizetype(h.size()));
}

int columnNamed(QString name)
{
    bool isNumber = false;
    const int number = name.toInt(&isNumber);
    if (isNumber)
        return number >= 1 && number <= Viewer::ColumnCount ? number - 1 : -1;
    name.replace(QLatin1Char('-'), QLatin1Char(' ')).replace(QLatin1Char('_'), QLatin1Char(' '));
    for (int c = 0; c < Viewer::ColumnCount; ++c) {
        if (name.compare(headerText(c), Qt::CaseInsensitive) == 0)
            return c;
    }
    return -1;
}

}  // namespace

int RunView(Context &ctx, const QStringList &arguments)
{
    CommandLine line(ctx, kHelp, {{"sort", "COLUMN"}, {"desc"}});
    if (!line.parse(arguments, CommandLine::Arguments::Any))
        return ctx.status();
    const std::optional<QString> file = line.dataFile();
    if (!file)
        return ctx.status();
    int column = -1;
    if (line.isSet("sort")) {
        column = columnNamed(line.value("sort"));
        if (column < 0)
            return ctx.usage(QStringLiteral("no column '%1'; the columns are Date, Mode, Frequency, Measurement, "
                                            "Depth and Signal Strength")
                                 .arg(line.value("sort")));
    } else if (line.isSet("desc")) {
        return ctx.usage(QStringLiteral("--desc needs --sort COLUMN"));
    }

    const QString &path = *file;
    DataFileHandle slot;
    const Viewer::LoadResult loaded = Viewer::LoadRecordsFile(slot, path);
    switch (loaded.status) {
    case Viewer::LoadResult::Status::Ok:
        break;
    case Viewer::LoadResult::Status::CannotOpen:
        return ctx.fail(QStringLiteral("The data file cannot be opened: %1: %2").arg(Native(path), loaded.detail));
    case Viewer::LoadResult::Status::ReadFailed:
        return ctx.fail(
            QStringLiteral("The data file could not be read to its end: %1: %2").arg(Native(path), loaded.detail));
    }
    if (!loaded.headerFound)
        return ctx.fail(Native(path)
                        + QStringLiteral(": the data file appears to be corrupt (it holds no header line)"));

    const Viewer::RecordStore &store = loaded.records;
    Viewer::RowOrder order(std::size_t(store.rowCount()));
    std::iota(order.begin(), order.end(), quint32(0));
    if (column >= 0)
        Viewer::SortRows(store, column, Viewer::TypeOfColumn(column), line.isSet("desc"), order);

    QByteArray text;
    for (int c = 0; c < Viewer::ColumnCount; ++c)
        text += (c ? "," : "") + CsvField(QByteArrayView(headerText(c).toLatin1()));
    text += '\n';
    // Millions of rows: written in large pieces, each cell straight from the file's bytes.
    constexpr qsizetype kFlushAt = 1 << 20;
    std::string scratch;
    for (const quint32 row : order) {
        const Viewer::RecordStore::Fields fields = store.fields(qsizetype(row));
        for (int c = 0; c < Viewer::ColumnCount; ++c) {
            if (c)
                text += ',';
            AppendCsvField(text, Viewer::CellBytes(fields, c, scratch));
        }
        text += '\n';
        if (text.size() >= kFlushAt) {
            ctx.write(text);
            text.clear();
        }
    }
    ctx.write(text);
    return Success;
}

}  // namespace Cli
