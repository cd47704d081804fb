#pragma once

#include "cli/CliSupport.h"

#include <QCommandLineParser>
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

#include <initializer_list>
#include <optional>

// How every subcommand declares and reads its options. A subcommand names
// its options in one table, parses once, and reads each value through one
// of the readers below, which say what is wrong in the same words for every
// command. Readers follow the exit-status convention of Context: false or
// nullopt after usage() (or the help), true or a value to go on.
namespace Cli {

// --name, or --name VALUE when it has a value name.
struct Option
{
    const char *name;
    const char *valueName = nullptr;  // none: a flag
    const char *defaultValue = nullptr;
};

// The options several subcommands share; linkOptions() reads the first three.
namespace Options {
inline constexpr Option Port{"port", "N"};  // required wherever it is declared
inline constexpr Option Pace{"pace-ms", "MS"};  // the pause after each command character
inline constexpr Option IdleTimeout{"idle-timeout", "S"};  // the silence that ends a transfer
inline constexpr Option Database{"database", "DB"};  // the archive; see TakeOption()

inline constexpr Option OutFolder{"out", "DIR"};  // the folder for data files; see dataFolder()
}  // namespace Options

// The --database paragraph of every archive command's help (a literal, so it
// joins the literals around it).
#define LOCATOR_DATABASE_HELP                                                                                          \
    "  --database DB     the archive: an SQLite file, or a PostgreSQL database as\n"                                   \
    "                    libpq takes it: postgresql://[user@][host][:port][/db][?key=value&...]\n"                     \
    "                    (postgresql:///fleet: the local socket; ?sslmode=require,\n"                                  \
    "                    ?host=/run/postgresql, ...), or \"host=db dbname=fleet user=ann\",\n"                         \
    "                    \"service=fleet\". Leave the password out: it is read from\n"                                 \
    "                    ~/.pgpass (or $PGPASSFILE) or $PGPASSWORD. Text of libpq\n"                                   \
    "                    keyword=value pairs is PostgreSQL; write ./NAME for a file so named.\n"                       \
    "                    default: $LOCATOR_ARCHIVE, else <AppData>/korvex/archive.sqlite\n"

// What the link options come to.
struct LinkOptions
{
    int port = 0;  // 0 where --port is not declared
    QList<int> ports;  // PortCount::Several: every --port given, in order, once each
    int idleSeconds = 0;  // the watchdog's interval where --idle-timeout is not given
};

class CommandLine
{
public:
    enum class Arguments {
        None,  // any argument that is no option is refused
        Any,  // the command reads them: arguments()
    };
    enum class DateForm {
        Long,  // DD/MM/YYYY, 2000 to 2099
        Short,  // DD/MM/YY, year 20YY
    };

    CommandLine(Context &ctx, const char *help, std::initializer_list<Option> options);

    // Answers --help (which wins over everything else on the line, so that
    // help is always one call away) and wrong options.
    [[nodiscard]] bool parse(const QStringList &given, Arguments allowed);

    Context &context() const { return m_ctx; }
    bool isSet(const char *name) const;
    QString value(const char *name) const;
    QStringList values(const char *name) const;
    QStringList arguments() const { return m_parser.positionalArguments(); }

    enum class PortCount {
        One,  // --port N is required
        Several,  // --port may be given any number of times, or not at all
    };
    // --idle-timeout, --port and --pace-ms as far as declared, in that order;
    // --pace-ms applies to every paced command of the run.
    [[nodiscard]] std::optional<LinkOptions> linkOptions(PortCount count = PortCount::One);
    // --out DIR, else the data folder; fails (status 1) when no data folder
    // is known. `forWhat` names what goes there: "the data file".
    [[nodiscard]] std::optional<QString> dataFolder(const QString &forWhat);
    // The arguments as data files: at least one, or exactly one.
    [[nodiscard]] std::optional<QStringList> dataFiles();
    [[nodiscard]] std::optional<QString> dataFile();

    // A value, when the option is given; an option not given leaves *value
    // as it was.
    [[nodiscard]] bool readMonth(int *month, int *year);  // --month MM/YYYY, 2000 to 2099
    [[nodiscard]] bool readDate(const char *name, DateForm form, QDate *date);
    [[nodiscard]] bool readSeconds(const char *name, int min, int max, int *seconds);
    // The index of the option's value among `choices`.
    [[nodiscard]] std::optional<int> choice(const char *name, std::initializer_list<const char *> choices);

private:
    bool declared(const Option &option) const;

    Context &m_ctx;
    QString m_help;
    QStringList m_declared;
    QCommandLineParser m_parser;
};

// An option that may stand anywhere on the line, before or after a
// command's action ("archive --database DB import FILE"): its value is taken
// out and the other arguments returned, in order. Nullopt after saying the
// value is missing.
[[nodiscard]] std::optional<QStringList> TakeOption(Context &ctx, const QStringList &arguments, const Option &option,
                                                    QString *value);

}  // namespace Cli
