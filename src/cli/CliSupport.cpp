#include "cli/CliSupport.h"

#include "core/datafile/UserFolders.h"
#include "core/usage/ModeTable.h"
#include "core/usage/UsageTexts.h"

#include <QDir>
#include <QIODevice>

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
    m_status = Failure;
    return m_status;
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
    m_status = UsageError;
    return m_status;
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

QString ModeName(int mode)
{
    const std::string_view name = ModeTable::Modes[std::size_t(mode)].name;
    return QString::fromLatin1(name.data(), qsizetype(name.size()));
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
