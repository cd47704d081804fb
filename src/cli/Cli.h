#pragma once

#include <QStringList>

class QIODevice;

// locator-cli: the toolkit's work without its windows, for scripts and for
// machines with no desktop. Every subcommand runs in-process from an argument
// list and writes only to the two devices it is given.
namespace Cli {

enum ExitStatus {
    Success = 0,
    Failure = 1,  // one line on the error device says what failed
    UsageError = 2,  // the arguments were wrong; nothing was done
};

struct Io
{
    QIODevice *out = nullptr;  // results
    QIODevice *err = nullptr;  // failures, and the progress line
    bool errIsTerminal = false;  // a progress line is shown only to a person
};

// arguments: the subcommand and its arguments, without the program name.
int Run(const QStringList &arguments, Io &io);

// Ctrl+C: a running transfer stops with the abort exchange; a second request
// gives up waiting for the locator. Call on the thread that runs Run().
void RequestInterrupt();

// The subcommand `arguments` names finishes cleanly when interrupted (a
// transfer with its abort exchange, a scan between two ports, a sync after
// importing what arrived).
bool StopsOnInterrupt(const QStringList &arguments);

// The subcommand `arguments` names needs a QApplication (the offscreen chart).
bool NeedsGuiApplication(const QStringList &arguments);

// For a program: results on standard output, failures and the progress line
// (when it is a terminal) on standard error.
int RunWithStandardStreams(const QStringList &arguments);

// Keeps Qt's own notes (a missing runtime folder, say) off the error stream,
// which scripts read for the one line that says what failed. Set
// LOCATOR_CLI_QT_MESSAGES to see them.
void QuietQtMessages();

}  // namespace Cli
