// locator-cli chart: the analysis windows' usage pie, drawn offscreen and
// saved as a JPEG. The pie is the windows' own drawing (UsagePie), so it needs
// their chart view; the view is never shown, so no window is ever created.
#include "cli/CliChart.h"
#include "cli/CommandLine.h"

#include "core/datafile/DataFileHandle.h"
#include "core/datafile/DataFileHeader.h"
#include "core/usage/UsageCounting.h"
#include "core/usage/UsageTexts.h"
#include "gui/analysis/UsagePie.h"

#include <QApplication>
#include <QImageWriter>
#include <QPixmap>
#include <QRegularExpression>
#include <QtCharts/QChartView>

namespace Cli {

namespace {

int runChart(Context &ctx, const QStringList &arguments);

const char kHelp[] = "Usage: locator-cli chart FILE (--month MM/YYYY | --day DD/MM/YYYY) --out PATH\n"
                     "                         [--size WIDTHxHEIGHT]\n"
                     "\n"
                     "Draws the usage pie of the month or day, as the Analyse Data and day\n"
                     "windows draw it (caption, legend, one slice per mode in use), and saves it\n"
                     "as a JPEG image under PATH exactly as given. No display is needed.\n"
                     "\n"
                     "Options:\n"
                     "  --month MM/YYYY     the month to draw (years 2000 to 2099)\n"
                     "  --day DD/MM/YYYY    the day to draw\n"
                     "  --out PATH          the image file to write\n"
                     "  --size WxH          the image size in pixels (default 640x480)\n"
                     "\n"
                     "A period without records has no chart: nothing is written and the exit\n"
                     "status is 1.\n";

constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 480;

bool parseSize(const QString &text, QSize *size)
{
    static const QRegularExpression form(QStringLiteral("^([0-9]{2,5})x([0-9]{2,5})$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return false;
    const QSize s(m.captured(1).toInt(), m.captured(2).toInt());
    if (s.width() < 100 || s.height() < 100 || s.width() > 8000 || s.height() > 8000)
        return false;
    *size = s;
    return true;
}

int runChart(Context &ctx, const QStringList &arguments)
{
    CommandLine line(ctx, kHelp, {{"month", "MM/YYYY"}, {"day", "DD/MM/YYYY"}, {"out", "PATH"}, {"size", "WxH"}});
    if (!line.parse(arguments, CommandLine::Arguments::Any))
        return ctx.status();
    const std::optional<QString> file = line.dataFile();
    if (!file)
        return ctx.status();
    const QString &path = *file;
    if (line.isSet("month") == line.isSet("day"))
        return ctx.usage(QStringLiteral("give either --month or --day"));
    if (!line.isSet("out") || line.value("out").isEmpty())
        return ctx.usage(QStringLiteral("--out PATH is required"));
    const QString out = line.value("out");
    QSize size(kDefaultWidth, kDefaultHeight);
    if (line.isSet("size") && !parseSize(line.value("size"), &size))
        return ctx.usage(
            QStringLiteral("--size takes WIDTHxHEIGHT, 100 to 8000 pixels each, not '%1'").arg(line.value("size")));

    int month = 0;
    int year = 0;
    QDate day;
    const bool byMonth = line.isSet("month");
    if (!line.readMonth(&month, &year) || !line.readDate("day", CommandLine::DateForm::Long, &day))
        return ctx.status();

    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return ctx.fail(QStringLiteral("drawing a chart needs the program's graphical start-up"));

    DataFileHandle slot;
    const Usage::PeriodReading reading = byMonth
        ? Usage::ReadMonthRecords(slot, path, month, year % 100)
        : Usage::ReadDayRecords(slot, path, day.day(), day.month(), day.year() % 100);
    if (!reading.ok())
        return ctx.fail(ReadFailureLine(reading, path));
    const Usage::PeriodRecords &set = reading.records;
    if (set.n == 0) {
        const QString noData = byMonth ? Usage::NoDataForMonthText(month, year % 100)
                                       : Usage::NoDataForDayText() + QStringLiteral(" (")
                + day.toString(QStringLiteral("dd/MM/yyyy")) + QLatin1Char(')');
        return ctx.fail(noData + QStringLiteral(" in ") + Native(path) + QStringLiteral("; no image written"));
    }

    // The caption names the locator as the file's header line does, as when
    // the windows analyse a file the user opened.
    LocatorIdentity identity;
    QByteArray header;
    if (DataFileHeader::ReadHeaderLine(slot, path, &header))
        identity = DataFileHeader::IdentityFromHeaderLine(header);
    const QString caption
        = byMonth ? Usage::MonthCaption(identity, set, month, year % 100) : Usage::DayCaption(identity, set);

    QChartView view;
    view.resize(size);
    UsagePie pie(&view);
    pie.draw(caption, Usage::CountModes(set));
    const QPixmap image = view.grab();

    // The format is named, so a name without ".jpg" still gets a JPEG, as in the windows.
    QImageWriter writer(out, "jpg");
    if (!writer.write(image.toImage()))
        return ctx.fail(QStringLiteral("cannot write the image %1: %2").arg(Native(out), writer.errorString()));
    ctx.print(Native(out) + QLatin1Char('\n'));
    return Success;
}

}  // namespace

void EnableChart()
{
    SetChartCommand(runChart);
}

int RunChartProgram(int argc, char *argv[])
{
    QuietQtMessages();
    // Charts are drawn without a display unless one is asked for.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    EnableChart();
    return RunWithStandardStreams(app.arguments().mid(1));
}

}  // namespace Cli
