// locator-cli ports: where port numbers lead on this computer.
#include "CliSupport.h"

#include "PortList.h"
#include "PortNaming.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

#ifdef Q_OS_WIN
#include <QSerialPortInfo>
#endif

namespace Cli {

namespace {

const char kHelp[] =
    "Usage: locator-cli ports\n"
    "\n"
    "Shows the ports folder in use and each COM entry in it with the device it\n"
    "points to (on Windows, the COM ports present), then the locators the port\n"
    "list remembers and the port each was last found on.\n"
    "\n"
    "The ports folder is $LOCATOR_PORTS_DIR when set, otherwise\n"
    "~/.config/korvex/ports. Port n is the entry COMn there.\n";

void listPortEntries(Context &ctx)
{
#ifdef Q_OS_WIN
    QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    if (ports.isEmpty())
        ctx.print(QStringLiteral("No COM ports present.\n"));
    for (const QSerialPortInfo &info : ports)
        ctx.print(QStringLiteral("%1  %2\n").arg(info.portName(), info.description()));
#else
    const QString folder = PortNaming::portsFolder();
    const QDir dir(folder);
    if (!dir.exists()) {
        ctx.print(QStringLiteral("Ports folder: %1 (does not exist)\n").arg(Native(folder)));
        return;
    }
    ctx.print(QStringLiteral("Ports folder: %1\n").arg(Native(folder)));

    static const QRegularExpression comName(QStringLiteral("^COM([1-9][0-9]{0,8})$"));
    QList<std::pair<int, QString>> entries;
    for (const QString &name : dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        const QRegularExpressionMatch m = comName.match(name);
        if (m.hasMatch())
            entries.append({m.captured(1).toInt(), name});
    }
    std::sort(entries.begin(), entries.end());
    if (entries.isEmpty())
        ctx.print(QStringLiteral("No COM entries.\n"));
    for (const auto &[number, name] : entries) {
        const QFileInfo entry(dir.filePath(name));
        QString target = entry.isSymLink() ? entry.symLinkTarget() : entry.absoluteFilePath();
        // A link left behind by a device that has gone is a port that does not exist.
        const bool present = !PortNaming::devicePathFor(number).isEmpty();
        ctx.print(QStringLiteral("%1 -> %2%3\n")
                      .arg(name, Native(target), present ? QString() : QStringLiteral(" (missing)")));
    }
#endif
}

void listRemembered(Context &ctx)
{
    const QString path = PortListPath();
    const QList<PortEntry> entries = PortList::LoadPortList(path);
    if (entries.isEmpty()) {
        ctx.print(QStringLiteral("Port list: %1 (no locators remembered)\n").arg(Native(path)));
        return;
    }
    ctx.print(QStringLiteral("Port list: %1\n").arg(Native(path)));
    for (const PortEntry &e : entries)
        ctx.print(QStringLiteral("%1 on COM%2\n").arg(Printable(e.serialNo), Printable(e.port)));
}

} // namespace

int RunPorts(Context &ctx, const QStringList &arguments)
{
    QCommandLineParser parser;
    if (const int status = Parse(ctx, parser, arguments, QString::fromLatin1(kHelp)); status >= 0)
        return status;
    if (!parser.positionalArguments().isEmpty())
        return ctx.usage(QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    listPortEntries(ctx);
    listRemembered(ctx);
    return Success;
}

} // namespace Cli
