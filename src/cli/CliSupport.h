#pragma once

#include "cli/Cli.h"
#include "core/datafile/LocatorIdentity.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDate>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

class QCommandLineParser;

namespace Usage {
struct ReadOutcome;
}

namespace Cli {

inline constexpr char ProgramName[] = "locator-cli";

// What one subcommand writes: results on the output device, one line per
// failure on the error device, and on a terminal a progress line.
class Context
{
public:
    Context(const QString &command, Io &io);

    const QString &command() const { return m_command; }
    bool errIsTerminal() const { return m_io.errIsTerminal; }

    void print(const QString &text);  // UTF-8, as given
    void write(QByteArrayView bytes);
    // "locator-cli <command>: <what>" on the error device; returns Failure.
    int fail(const QString &what);
    void warn(const QString &what);
    // Names the wrong argument and where to read about the right ones; returns UsageError.
    int usage(const QString &what);

    // Replaces the progress line; at most a few updates a second reach the terminal.
    void progress(const QString &line, bool force = false);
    void endProgress();

private:
    void writeErr(const QByteArray &bytes);

    QString m_command;
    Io &m_io;
    bool m_progressShown = false;
    QElapsedTimer m_progressClock;
};

// Adds --help, parses, and answers --help and wrong options itself. Returns
// -1 when the subcommand should go on, otherwise its exit status.
int Parse(Context &ctx, QCommandLineParser &parser, const QStringList &arguments, const QString &help);

// Option values. Each returns false for text that is not one.
bool ParsePort(const QString &text, int *port);  // 1 to 256
bool ParseMonthYear(const QString &text, int *month, int *year);  // MM/YYYY, 2000 to 2099
bool ParseLongDate(const QString &text, QDate *date);  // DD/MM/YYYY, 2000 to 2099
bool ParseShortDate(const QString &text, QDate *date);  // DD/MM/YY, year 20YY
bool ParseNonNegative(const QString &text, int *value);

// A CSV field, quoted when it must be.
QByteArray CsvField(QByteArrayView text);
void AppendCsvField(QByteArray &to, QByteArrayView text);
QString CsvField(const QString &text);

// Text a locator or a data file supplied, fit for a terminal: control
// characters (an escape sequence, say) become "?".
QString Printable(QString text);
LocatorIdentity Printable(const LocatorIdentity &identity);

// The folders the windows use.
QString DataFolder();  // <Documents>/korvex/data
QString PortListPath();  // <AppData>/korvex/ports.ini
QString Native(const QString &path);
// A reason that may run over several lines, made one.
QString OneLine(QString text);
// A failed reading of a data file, as one line that names the file.
QString ReadFailureLine(const Usage::ReadOutcome &outcome, const QString &path);

// Ctrl+C, as the main program or a test reports it.
class Interrupts : public QObject
{
    Q_OBJECT
public:
    static Interrupts &instance();
    int count() const { return m_count; }
    void reset() { m_count = 0; }
    void request();

signals:
    void requested();

private:
    int m_count = 0;
};

// The subcommands. `chart` draws with the windows' pie, so it lives apart
// (locator_cli_chart) and is present only where it has been enabled.
using Command = int (*)(Context &, const QStringList &);
void SetChartCommand(Command run);

int RunPorts(Context &ctx, const QStringList &arguments);
int RunIdentify(Context &ctx, const QStringList &arguments);
int RunScan(Context &ctx, const QStringList &arguments);
int RunTransfer(Context &ctx, const QStringList &arguments);
int RunSetClock(Context &ctx, const QStringList &arguments);
int RunSetUser(Context &ctx, const QStringList &arguments);
int RunReport(Context &ctx, const QStringList &arguments);
int RunView(Context &ctx, const QStringList &arguments);
int RunArchive(Context &ctx, const QStringList &arguments);
int RunSync(Context &ctx, const QStringList &arguments);

}  // namespace Cli
