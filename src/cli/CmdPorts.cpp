// locator-cli ports: where port numbers lead on this computer.
#include "cli/CommandLine.h"

#include "core/link/PortList.h"
#include "core/link/PortNaming.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

#ifdef Q_OS_WIN
#include <QSerialPortInfo>
#endif

namespace Cli {

namespace {

const char kHelp[] = "Usage: locator-cli ports\n"
                     "\n"
                     "Shows the ports folder in use and each COM entry in it with the device it\n"
                     "points to (on Windows, the COM ports present), then the locators the port\n"
                     "list remembers and the port each was last found on.\n"
                     "\n"
                     "The ports folder is $LOCATOR_PORTS_DIR when set, otherwise\n"
                     "~/.config/korvex/ports. Port n is the entry COMn there; without one,\n"
                     "ports 1 to 16 are the system's serial devices by a fixed table:\n"
                     "COM1-COM8 /dev/rfcomm0-7 (Bluetooth), COM9-COM12 /dev/ttyUSB0-3 (USB),\n"
                     "COM13-COM16 /dev/ttyACM0-3 (USB modem class).\n";

void listPortEntries(Context &ctx)
{
#ifdef Q_OS_WIN
    QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    if (ports.isEmpty())
        ctx.print(QStringLiteral("No COM ports present.\n"));
    for (const QSerialPortInfo &info : ports)
        ctx.print(QStringLiteral("%1  %2\n").arg(info.portName(), info.description()));
#else
    const QString folder = PortNaming::PortsFolder();
    const QDir dir(folder);
    ctx.print(QStringLiteral("Ports folder: %1%2\n")
                  .arg(Native(folder), dir.exists() ? QString() : QStringLiteral(" (does not exist)")));
    ctx.print(QStringLiteral("Device folder: %1\n").arg(Native(PortNaming::DeviceFolder())));

    // Ports 1 to 16 always (the table's or an entry's device), and any
    // further COM entry the folder holds.
    static const QRegularExpression comName(QStringLiteral("^COM([1-9][0-9]{0,8})$"));
    QList<int> numbers;
    for (int n = 1; n <= 16; ++n)
        numbers.append(n);
    const QStringList names
        = dir.exists() ? dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot) : QStringList();
    for (const QString &name : names) {
        const QRegularExpressionMatch m = comName.match(name);
        if (m.hasMatch() && !numbers.contains(m.captured(1).toInt()))
            numbers.append(m.captured(1).toInt());
    }
    std::sort(numbers.begin(), numbers.end());
    for (int number : std::as_const(numbers)) {
        const QFileInfo entry(dir.filePath(QStringLiteral("COM%1").arg(number)));
        const bool present = !PortNaming::DevicePathFor(number).isEmpty();
        QString note;
        if (entry.isSymLink() || entry.exists())
            note = present ? QStringLiteral(" (link)") : QStringLiteral(" (link, missing)");
        else if (!present)
            note = QStringLiteral(" (not present)");
        ctx.print(QStringLiteral("COM%1 -> %2%3\n").arg(number).arg(Native(PortNaming::DeviceShownFor(number)), note));
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

}  // namespace

int RunPorts(Context &ctx, const QStringList &arguments)
{
    CommandLine line(ctx, kHelp, {});
    if (!line.parse(arguments, CommandLine::Arguments::None))
        return ctx.status();
    listPortEntries(ctx);
    listRemembered(ctx);
    return Success;
}

}  // namespace Cli
