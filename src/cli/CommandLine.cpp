#include "cli/CommandLine.h"

#include "core/link/Pacing.h"
#include "core/link/TransferSession.h"

#include <QRegularExpression>

namespace Cli {

namespace {

QString latin1(const char *text)
{
    return QString::fromLatin1(text);
}

bool wholeNumber(const QString &text, int *value)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    if (!digits.match(text).hasMatch())
        return false;
    *value = text.toInt();
    return true;
}

// Years in data files are two digits meaning 2000 plus their value.
bool inCentury(int year)
{
    return year >= 2000 && year <= 2099;
}

bool parseMonthYear(const QString &text, int *month, int *year)
{
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,2})/([0-9]{4})$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return false;
    const int mm = m.captured(1).toInt();
    const int yyyy = m.captured(2).toInt();
    if (mm < 1 || mm > 12 || !inCentury(yyyy))
        return false;
    *month = mm;
    *year = yyyy;
    return true;
}

bool parseDate(const QString &text, int yearDigits, QDate *date)
{
    const QRegularExpression form(QStringLiteral("^([0-9]{1,2})/([0-9]{1,2})/([0-9]{%1})$").arg(yearDigits));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return false;
    int year = m.captured(3).toInt();
    if (yearDigits == 2)
        year += 2000;
    const QDate d(year, m.captured(2).toInt(), m.captured(1).toInt());
    if (!d.isValid() || !inCentury(year))
        return false;
    *date = d;
    return true;
}

// "a, b or c"
QString listed(std::initializer_list<const char *> choices)
{
    QString text;
    int i = 0;
    for (const char *c : choices) {
        if (i > 0)
            text += i + 1 == int(choices.size()) ? QStringLiteral(" or ") : QStringLiteral(", ");
        text += latin1(c);
        ++i;
    }
    return text;
}

}  // namespace

CommandLine::CommandLine(Context &ctx, const char *help, std::initializer_list<Option> options)
    : m_ctx(ctx)
    , m_help(latin1(help))
{
    for (const Option &o : options) {
        m_declared << latin1(o.name);
        m_parser.addOption(QCommandLineOption(latin1(o.name), QString(), o.valueName ? latin1(o.valueName) : QString(),
                                              o.defaultValue ? latin1(o.defaultValue) : QString()));
    }
}

bool CommandLine::parse(const QStringList &given, Arguments allowed)
{
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show help."));
    m_parser.addOption(helpOption);
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const bool parsed = m_parser.parse(QStringList{latin1(ProgramName)} + given);
    const QStringList options = given.mid(0, given.indexOf(QStringLiteral("--")));
    if (options.contains(QStringLiteral("--help")) || options.contains(QStringLiteral("-h"))
        || (parsed && m_parser.isSet(helpOption))) {
        m_ctx.print(m_help);
        return false;
    }
    if (!parsed) {
        m_ctx.usage(m_parser.errorText());
        return false;
    }
    if (allowed == Arguments::None && !arguments().isEmpty()) {
        m_ctx.usage(QStringLiteral("unexpected argument '%1'").arg(arguments().first()));
        return false;
    }
    return true;
}

bool CommandLine::isSet(const char *name) const
{
    return m_parser.isSet(latin1(name));
}

QString CommandLine::value(const char *name) const
{
    return m_parser.value(latin1(name));
}

QStringList CommandLine::values(const char *name) const
{
    return m_parser.values(latin1(name));
}

bool CommandLine::declared(const Option &option) const
{
    return m_declared.contains(latin1(option.name));
}

std::optional<LinkOptions> CommandLine::linkOptions(PortCount count)
{
    LinkOptions link;
    link.idleSeconds = TransferSession::kWatchdogMs / 1000;
    if (declared(Options::IdleTimeout) && !readSeconds(Options::IdleTimeout.name, 1, 86400, &link.idleSeconds))
        return std::nullopt;
    if (declared(Options::Port)) {
        if (count == PortCount::One && !isSet(Options::Port.name)) {
            m_ctx.usage(QStringLiteral("--port N is required"));
            return std::nullopt;
        }
        const QStringList given
            = count == PortCount::One ? QStringList{value(Options::Port.name)} : values(Options::Port.name);
        for (const QString &text : given) {
            if (!wholeNumber(text, &link.port) || link.port < 1 || link.port > 256) {
                m_ctx.usage(QStringLiteral("--port takes a port number from 1 to 256, not '%1'").arg(text));
                return std::nullopt;
            }
            if (!link.ports.contains(link.port))
                link.ports << link.port;
        }
    }
    if (declared(Options::Pace) && isSet(Options::Pace.name)) {
        const QString text = value(Options::Pace.name);
        int ms = 0;
        if (!wholeNumber(text, &ms) || ms > 10000) {
            m_ctx.usage(QStringLiteral("--pace-ms takes a whole number of milliseconds, not '%1'").arg(text));
            return std::nullopt;
        }
        Pacing::SetShortPauseMs(ms);
    }
    return link;
}

std::optional<QString> CommandLine::dataFolder(const QString &forWhat)
{
    const QString folder = isSet(Options::OutFolder.name) ? value(Options::OutFolder.name) : DataFolder();
    if (folder.isEmpty()) {
        m_ctx.fail(QStringLiteral("no documents folder is known for %1; give --out DIR").arg(forWhat));
        return std::nullopt;
    }
    return folder;
}

std::optional<QStringList> CommandLine::dataFiles()
{
    const QStringList files = arguments();
    if (files.isEmpty()) {
        m_ctx.usage(QStringLiteral("no data file given"));
        return std::nullopt;
    }
    return files;
}

std::optional<QString> CommandLine::dataFile()
{
    const std::optional<QStringList> files = dataFiles();
    if (!files)
        return std::nullopt;
    if (files->size() != 1) {
        m_ctx.usage(QStringLiteral("one data file at a time"));
        return std::nullopt;
    }
    return files->first();
}

bool CommandLine::readMonth(int *month, int *year)
{
    if (!isSet("month") || parseMonthYear(value("month"), month, year))
        return true;
    m_ctx.usage(QStringLiteral("--month takes MM/YYYY with a year from 2000 to 2099, not '%1'").arg(value("month")));
    return false;
}

bool CommandLine::readDate(const char *name, DateForm form, QDate *date)
{
    const bool isLong = form == DateForm::Long;
    if (!isSet(name) || parseDate(value(name), isLong ? 4 : 2, date))
        return true;
    m_ctx.usage(QStringLiteral("--%1 takes a date %2, not '%3'")
                    .arg(latin1(name),
                         isLong ? QStringLiteral("DD/MM/YYYY from 2000 to 2099") : QStringLiteral("DD/MM/YY"),
                         value(name)));
    return false;
}

bool CommandLine::readSeconds(const char *name, int min, int max, int *seconds)
{
    if (!isSet(name))
        return true;
    int n = 0;
    if (wholeNumber(value(name), &n) && n >= min && n <= max) {
        *seconds = n;
        return true;
    }
    m_ctx.usage(QStringLiteral("--%1 takes whole seconds from %2 to %3, not '%4'")
                    .arg(latin1(name))
                    .arg(min)
                    .arg(max)
                    .arg(value(name)));
    return false;
}

std::optional<int> CommandLine::choice(const char *name, std::initializer_list<const char *> choices)
{
    const QString text = value(name);
    int i = 0;
    for (const char *c : choices) {
        if (text == QLatin1String(c))
            return i;
        ++i;
    }
    m_ctx.usage(QStringLiteral("--%1 takes %2, not '%3'").arg(latin1(name), listed(choices), text));
    return std::nullopt;
}

std::optional<QStringList> TakeOption(Context &ctx, const QStringList &arguments, const Option &option, QString *value)
{
    const QString name = latin1(option.name);
    const QString joined = QStringLiteral("--") + name + QLatin1Char('=');
    QStringList rest;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QStringLiteral("--") + name || a == QStringLiteral("-") + name) {
            if (i + 1 >= arguments.size()) {
                ctx.usage(QStringLiteral("--%1 needs a value").arg(name));
                return std::nullopt;
            }
            *value = arguments[++i];
        } else if (a.startsWith(joined)) {
            *value = a.mid(joined.size());
        } else {
            rest << a;
        }
    }
    return rest;
}

}  // namespace Cli
