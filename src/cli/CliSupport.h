#pragma once

#include "cli/Cli.h"
#include "core/datafile/LocatorIdentity.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

namespace Usage {
struct ReadOutcome;
}

namespace Cli {

inline constexpr char ProgramName[] = "locator-cli";

// What one subcommand writes: results on the output device, one line per
// failure on the error device, and on a terminal a progress line.
//
// How a subcommand ends: it returns its exit status. A step that may end it
// early (reading its options, opening a port, ...) never returns a status of
// its own: it returns [[nodiscard]] bool, or std::optional of what it reads,
// and false or nullopt means "stop here"; it has then said why through fail()
// or usage() (or printed the help), which set status(), and the caller
// returns ctx.status(). True or a value means "go on"; nothing was said.
class Context
{
public:
    Context(const QString &command, Io &io);

    const QString &command() const { return m_command; }
    bool errIsTerminal() const { return m_io.errIsTerminal; }

    void print(const QString &text);  // UTF-8, as given
    void write(QByteArrayView bytes);
    // "locator-cli <command>: <what>" on the error device; sets and returns Failure.
    int fail(const QString &what);
    void warn(const QString &what);
    // Names the wrong argument and where to read about the right ones; sets and returns UsageError.
    int usage(const QString &what);
    // Success until fail() or usage() says otherwise: the status of the last one.
    int status() const { return m_status; }

    // Replaces the progress line; at most a few updates a second reach the terminal.
    void progress(const QString &line, bool force = false);
    void endProgress();

private:
    void writeErr(const QByteArray &bytes);

    QString m_command;
    Io &m_io;
    int m_status = Success;
    bool m_progressShown = false;
    QElapsedTimer m_progressClock;
};

// A CSV field, quoted when it must be.
QByteArray CsvField(QByteArrayView text);
void AppendCsvField(QByteArray &to, QByteArrayView text);

// A mode's name as the windows show it: "DarAdar", "Transmitter", ...
QString ModeName(int mode);

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
