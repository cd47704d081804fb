#include "cli/CliSupport.h"

#include "core/datafile/UserFolders.h"
#include "core/usage/UsageTexts.h"

#include <QCommandLineParser>
#include <QDir>
#include <QIODevice>
#include <QRegularExpression>

namespace Cli {

Context::Context(const QString &command, Io &io)
    : m_command(command)
    , m_io(io)
{ }

void Context::print(const QString &text)
{
    write(text.toUtf8());
}

void Context::write(QByteArrayView bytes)
{
    if (m_io.out)
        m_io.out->write(bytes.data(), bytes.size());
}

void Context::writeErr(const QByteArray &bytes)
{
    if (m_io.err)
        m_io.err->write(bytes);
}

static QByteArray prefixed(const QString &command, const QString &what)
{
    QString line = QString::fromLatin1(ProgramName);
    if (!command.isEmpty())
        line += QLatin1Char(' ') + command;
    return (line + QStringLiteral(": ") + OneLine(what) + QLatin1Char('\n')).toUtf8();
}

int Context::fail(const QString &what)
{
    endProgress();
    writeErr(prefixed(m_command, what));
    return Failure;
}

void Context::warn(const QString &what)
{
    endProgress();
    writeErr(prefixed(m_command, what));
}

int Context::usage(const QString &what)
{
    QString help = QString::fromLatin1(ProgramName);
    if (!m_command.isEmpty())
        help += QLatin1Char(' ') + m_command;
    writeErr(prefixed(m_command, what + QStringLiteral(" (see '") + help + QStringLiteral(" --help')")));
    return UsageError;
}

void Context::progress(const QString &line, bool force)
{
    if (!m_io.errIsTerminal)
        return;
    if (!force && m_progressShown && m_progressClock.isValid() && m_progressClock.elapsed() < 200)
        return;
    m_progressClock.start();
    m_progressShown = true;
    // Back to the start of the line and clear what was there.
    writeErr("\r" + line.toUtf8() + "\x1b[K");
}

void Context::endProgress()
{
    if (!m_progressShown)
        return;
    m_progressShown = false;
    writeErr("\n");
}

int Parse(Context &ctx, QCommandLineParser &parser, const QStringList &arguments, const QString &help)
{
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show help."));
    parser.addOption(helpOption);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const bool parsed = parser.parse(QStringList{QString::fromLatin1(ProgramName)} + arguments);
    // Help wins over everything else, so that it is always one call away.
    const QStringList options = arguments.mid(0, arguments.indexOf(QStringLiteral("--")));
    if (options.contains(QStringLiteral("--help")) || options.contains(QStringLiteral("-h"))
        || (parsed && parser.isSet(helpOption))) {
        ctx.print(help);
        return Success;
    }
    if (!parsed)
        return ctx.usage(parser.errorText());
    return -1;
}

static bool wholeNumber(const QString &text, int *value)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    if (!digits.match(text).hasMatch())
        return false;
    *value = text.toInt();
    return true;
}

bool ParsePort(const QString &text, int *port)
{
    int n = 0;
    if (!wholeNumber(text, &n) || n < 1 || n > 256)
        return false;
    *port = n;
    return true;
}

bool ParseNonNegative(const QString &text, int *value)
{
    return wholeNumber(text, value);
}

// Years in data files are two digits meaning 2000 plus their value.
static bool inCentury(int year)
{
    return year >= 2000 && year <= 2099;
}

bool ParseMonthYear(const QString &text, int *month, int *year)
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

static bool parseDate(const QString &text, int yearDigits, QDate *date)
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

bool ParseLongDate(const QString &text, QDate *date)
{
    return parseDate(text, 4, date);
}

bool ParseShortDate(const QString &text, QDate *date)
{
    return parseDate(text, 2, date);
}

void AppendCsvField(QByteArray &to, QByteArrayView text)
{
    bool quote = false;
    for (char c : text) {
        if (c == ',' || c == '"' || c == '\r' || c == '\n') {
            quote = true;
            break;
        }
    }
    if (!quote) {
        to.append(text);
        return;
    }
    to.append('"');
    for (char c : text) {
        if (c == '"')
            to.append('"');
        to.append(c);
    }
    to.append('"');
}

QByteArray CsvField(QByteArrayView text)
{
    QByteArray out;
    AppendCsvField(out, text);
    return out;
}

QString CsvField(const QString &text)
{
    return QString::fromUtf8(CsvField(QByteArrayView(text.toUtf8())));
}

QString Printable(QString text)
{
    for (QChar &c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u < 0xa0))
            c = QLatin1Char('?');
    }
    return text;
}

LocatorIdentity Printable(const LocatorIdentity &identity)
{
    return {Printable(identity.model), Printable(identity.serialNo), Printable(identity.user)};
}

QString DataFolder()
{
    const QString documents = GetDocumentsFolder();
    return documents.isEmpty() ? QString() : documents + QStringLiteral("/korvex/data");
}

QString PortListPath()
{
    const QString appData = GetAppDataFolder();
    return appData.isEmpty() ? QString() : appData + QStringLiteral("/korvex/ports.ini");
}

QString Native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

QString OneLine(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QString out;
    for (const QString &line : lines) {
        if (!out.isEmpty())
            out += out.endsWith(QLatin1Char(':')) ? QStringLiteral(" ") : QStringLiteral(": ");
        out += line;
    }
    return out;
}

QString ReadFailureLine(const Usage::ReadOutcome &outcome, const QString &path)
{
    if (outcome.status == Usage::ReadStatus::PastEnd)
        return Native(path) + QStringLiteral(": the data file appears to be corrupt (it holds no header line)");
    return OneLine(Usage::ReadFailureText(outcome, path));
}

Interrupts &Interrupts::instance()
{
    static Interrupts interrupts;
    return interrupts;
}

void Interrupts::request()
{
    ++m_count;
    emit requested();
}

}  // namespace Cli
