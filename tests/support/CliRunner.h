#pragma once

#include "cli/Cli.h"

#include <QBuffer>
#include <QByteArray>
#include <QList>
#include <QStringList>

// Runs locator-cli in-process and keeps what it wrote on each stream.
struct CliResult
{
    int status = -1;
    QByteArray out;
    QByteArray err;

    QList<QByteArray> errLines() const
    {
        QList<QByteArray> lines = err.split('\n');
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }
};

inline CliResult RunCli(const QStringList &arguments, bool terminal = false)
{
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    Cli::Io io;
    io.out = &out;
    io.err = &err;
    io.errIsTerminal = terminal;
    CliResult r;
    r.status = Cli::Run(arguments, io);
    r.out = out.data();
    r.err = err.data();
    return r;
}
