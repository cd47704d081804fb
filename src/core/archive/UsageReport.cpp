#include "core/archive/UsageReport.h"

#include "core/usage/ModeTable.h"
#include "core/usage/UsageTexts.h"

#include <QtMath>

namespace Archive {

namespace { }  // namespace

// A name as a CSV field. One that begins with "=", "+", "-" or "@" gets a
// "'" first, so a spreadsheet shows it rather than running it as a formula.
QString CsvText(QString text)
{
    static const QString kFormulaStart = QStringLiteral("=+-@");
    if (!text.isEmpty() && kFormulaStart.contains(text.front()))
        text.prepend(QLatin1Char('\''));
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\r'))
        && !text.contains(QLatin1Char('\n')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString PeriodText(const QDate &from, const QDate &to)
{
    const QString f = QStringLiteral("dd/MM/yyyy");
    if (from.isValid() && to.isValid())
        return QStringLiteral("Usage from %1 to %2").arg(from.toString(f), to.toString(f));
    if (from.isValid())
        return QStringLiteral("Usage from %1").arg(from.toString(f));
    if (to.isValid())
        return QStringLiteral("Usage up to %1").arg(to.toString(f));
    return QStringLiteral("All archived usage");
}

QString ModeNameText(int mode)
{
    const std::string_view name = ModeTable::Modes[std::size_t(mode)].name;
    return QString::fromLatin1(name.data(), qsizetype(name.size()));
}

QString UsageCsv(const QList<GroupBy> &by, const QList<UsageGroup> &groups, const UsageGroup &whole)
{
    QStringList head;
    for (GroupBy b : by) {
        head << GroupByName(b);
        if (b == GroupBy::Locator)
            head << QStringLiteral("model");
    }
    head << QStringLiteral("mode") << QStringLiteral("seconds") << QStringLiteral("duration");
    QString text = head.join(QLatin1Char(',')) + QLatin1Char('\n');
    auto rows = [&](const UsageGroup &g, bool isWhole) {
        QString keys;
        for (GroupBy b : by) {
            keys += isWhole ? QString() : CsvText(g.keyText(b));
            keys += QLatin1Char(',');
            if (b == GroupBy::Locator)
                keys += (isWhole ? QString() : CsvText(g.model)) + QLatin1Char(',');
        }
        auto row = [&](const QString &mode, qint64 seconds) {
            text += keys + mode + QLatin1Char(',') + QString::number(seconds) + QLatin1Char(',')
                + Usage::PieDurationText(seconds) + QLatin1Char('\n');
        };
        for (int i = 0; i < ModeTable::Count; ++i)
            row(ModeNameText(i), g.seconds[std::size_t(i)]);
        row(QStringLiteral("Total"), g.total);
    };
    if (!by.isEmpty()) {
        for (const UsageGroup &g : groups)
            rows(g, false);
    }
    rows(whole, true);
    return text;
}

namespace {

QString esc(const QString &s)
{
    return s.toHtmlEscaped();
}

QString colour(int i)
{
    const ModeTable::Rgb c = ModeTable::Modes[std::size_t(i)].colour;
    return QStringLiteral("rgb(%1,%2,%3)").arg(c.r).arg(c.g).arg(c.b);
}

QString num(double v)
{
    return QString::number(v, 'f', 2);
}

QString groupLabel(const UsageGroup &g, GroupBy by)
{
    switch (by) {
    case GroupBy::Locator:
        return g.model.isEmpty() ? g.serial : g.serial + QStringLiteral(" (") + g.model + QLatin1Char(')');
    case GroupBy::User:
        return g.user;
    case GroupBy::Month:
        return Usage::MonthName(g.month.month()) + QLatin1Char(' ') + QString::number(g.month.year());
    case GroupBy::Day:
        return g.day.toString(QStringLiteral("dd/MM/yyyy"));
    }
    return {};
}

QString columnTitle(GroupBy by)
{
    switch (by) {
    case GroupBy::Locator:
        return QStringLiteral("Locator");
    case GroupBy::User:
        return QStringLiteral("User");
    case GroupBy::Month:
        return QStringLiteral("Month");
    case GroupBy::Day:
        return QStringLiteral("Day");
    }
    return {};
}

QString legend()
{
    QString s = QStringLiteral("<p class=\"legend\">");
    for (int i = 0; i < ModeTable::Count; ++i)
        s += QStringLiteral("<span><i style=\"background:%1\"></i>%2</span>").arg(colour(i), esc(ModeNameText(i)));
    return s + QStringLiteral("</p>\n");
}

QString pie(const UsageGroup &g)
{
    constexpr double r = 80, cx = 90, cy = 90;
    QString svg = QStringLiteral("<svg width=\"180\" height=\"180\" viewBox=\"0 0 180 180\" role=\"img\">");
    if (g.total <= 0) {
        svg += QStringLiteral("<circle cx=\"90\" cy=\"90\" r=\"80\" fill=\"none\" stroke=\"#999\"/>");
    } else {
        double angle = -M_PI / 2;
        for (int i = 0; i < ModeTable::Count; ++i) {
            const qint64 s = g.seconds[std::size_t(i)];
            if (s <= 0)
                continue;
            const QString title
                = QStringLiteral("<title>%1: %2</title>").arg(esc(ModeNameText(i)), Usage::PieDurationText(s));
            if (s == g.total) {
                svg += QStringLiteral("<circle cx=\"90\" cy=\"90\" r=\"80\" fill=\"%1\">%2</circle>")
                           .arg(colour(i), title);
                break;
            }
            const double sweep = 2 * M_PI * double(s) / double(g.total);
            const double x0 = cx + r * std::cos(angle), y0 = cy + r * std::sin(angle);
            angle += sweep;
            const double x1 = cx + r * std::cos(angle), y1 = cy + r * std::sin(angle);
            svg += QStringLiteral(
                       "<path d=\"M90,90 L%1,%2 A80,80 0 %3 1 %4,%5 Z\" fill=\"%6\" stroke=\"#fff\">%7</path>")
                       .arg(num(x0), num(y0), sweep > M_PI ? QStringLiteral("1") : QStringLiteral("0"), num(x1),
                            num(y1), colour(i), title);
        }
    }
    return svg + QStringLiteral("</svg>");
}

QString bars(const QList<UsageGroup> &months)
{
    constexpr int height = 240, barWidth = 36, gap = 14, left = 50, bottom = 40, top = 10;
    qint64 most = 1;
    for (const UsageGroup &m : months)
        most = std::max(most, m.total);
    const double hours = double(most) / 3600.0;
    const int width = left + int(months.size()) * (barWidth + gap) + gap;
    QString svg = QStringLiteral("<svg width=\"%1\" height=\"%2\" viewBox=\"0 0 %1 %2\" role=\"img\">")
                      .arg(width)
                      .arg(height + top + bottom);
    svg += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%2\" stroke=\"#333\"/>")
               .arg(left)
               .arg(top + height)
               .arg(width);
    svg += QStringLiteral("<text x=\"4\" y=\"%1\" font-size=\"11\">%2 h</text>").arg(top + 10).arg(num(hours));
    svg += QStringLiteral("<text x=\"4\" y=\"%1\" font-size=\"11\">0 h</text>").arg(top + height);
    int x = left + gap;
    for (const UsageGroup &m : months) {
        double y = top + height;
        for (int i = 0; i < ModeTable::Count; ++i) {
            const qint64 s = m.seconds[std::size_t(i)];
            if (s <= 0)
                continue;
            const double h = double(height) * double(s) / double(most);
            y -= h;
            svg += QStringLiteral(
                       "<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"%5\"><title>%6 %7: %8</title></rect>")
                       .arg(x)
                       .arg(num(y))
                       .arg(barWidth)
                       .arg(num(h))
                       .arg(colour(i), esc(groupLabel(m, GroupBy::Month)), esc(ModeNameText(i)),
                            Usage::PieDurationText(s));
        }
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" font-size=\"10\" text-anchor=\"middle\">%3</text>")
                   .arg(x + barWidth / 2)
                   .arg(top + height + 14)
                   .arg(m.month.toString(QStringLiteral("MM/yyyy")));
        x += barWidth + gap;
    }
    return svg + QStringLiteral("</svg>");
}

}  // namespace

QString UsageHtmlPage(const QString &period, const QList<GroupBy> &by, const QList<UsageGroup> &groups,
                      const QList<UsageDay> &days, const QString &note)
{
    QString page = QStringLiteral(
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>Locator usage</title>\n"
        "<style>body{font-family:sans-serif;margin:1.5em;color:#222}table{border-collapse:collapse;margin:1em 0}"
        "th,td{border:1px solid #bbb;padding:3px 8px;text-align:left}.n{text-align:right}"
        ".pies{display:flex;flex-wrap:wrap;gap:1.5em}.pies figure{margin:0;text-align:center}"
        ".legend span{margin-right:1.2em}.legend i{display:inline-block;width:12px;height:12px;margin-right:4px;"
        "vertical-align:middle}</style>\n</head><body>\n");
    page += QStringLiteral("<h1>Locator usage</h1>\n<p>%1</p>\n").arg(esc(period));
    if (!note.isEmpty())
        page += QStringLiteral("<p>%1</p>\n").arg(esc(note));
    page += legend();

    page += QStringLiteral("<table><tr>");
    for (GroupBy b : by)
        page += QStringLiteral("<th>%1</th>").arg(columnTitle(b));
    for (int i = 0; i < ModeTable::Count; ++i)
        page += QStringLiteral("<th>%1</th>").arg(esc(ModeNameText(i)));
    page += QStringLiteral("<th>Total</th></tr>\n");
    for (const UsageGroup &g : groups) {
        page += QStringLiteral("<tr>");
        for (GroupBy b : by)
            page += QStringLiteral("<td>%1</td>").arg(esc(groupLabel(g, b)));
        for (int i = 0; i < ModeTable::Count; ++i)
            page += QStringLiteral("<td class=\"n\">%1</td>").arg(Usage::PieDurationText(g.seconds[std::size_t(i)]));
        page += QStringLiteral("<td class=\"n\">%1</td></tr>\n").arg(Usage::PieDurationText(g.total));
    }
    if (!by.isEmpty()) {
        const UsageGroup whole = GroupUsage(days, {}).value(0);
        page += QStringLiteral("<tr><th colspan=\"%1\">All</th>").arg(by.size());
        for (int i = 0; i < ModeTable::Count; ++i)
            page
                += QStringLiteral("<th class=\"n\">%1</th>").arg(Usage::PieDurationText(whole.seconds[std::size_t(i)]));
        page += QStringLiteral("<th class=\"n\">%1</th></tr>\n").arg(Usage::PieDurationText(whole.total));
    }
    page += QStringLiteral("</table>\n");

    page += QStringLiteral("<h2>Usage per locator</h2>\n<div class=\"pies\">\n");
    for (const UsageGroup &g : GroupUsage(days, {GroupBy::Locator})) {
        if (g.serial.isEmpty() && g.records == 0)
            continue;
        page += QStringLiteral("<figure>%1<figcaption>%2<br>%3</figcaption></figure>\n")
                    .arg(pie(g), esc(groupLabel(g, GroupBy::Locator)), Usage::PieDurationText(g.total));
    }
    page += QStringLiteral("</div>\n<h2>Usage per month</h2>\n");
    page += bars(GroupUsage(days, {GroupBy::Month})) + QStringLiteral("\n</body></html>\n");
    return page;
}

}  // namespace Archive
