#include "PortNaming.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace PortNaming {

static QString &overrideFolder()
{
    static QString folder;
    return folder;
}

QString portsFolder()
{
    if (!overrideFolder().isEmpty())
        return overrideFolder();
    const QString env = qEnvironmentVariable("LOCATOR_PORTS_DIR");
    if (!env.isEmpty())
        return env;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/korvex/ports");
}

void setPortsFolder(const QString &folder)
{
    overrideFolder() = folder;
}

QString devicePathFor(int portNumber)
{
    if (portNumber < 1)
        return {};
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(portNumber);
#else
    const QString entry = QDir(portsFolder()).filePath(QStringLiteral("COM%1").arg(portNumber));
    const QFileInfo info(entry);
    // A dangling link is a device that is no longer there: same as no port.
    if (!info.exists())
        return {};
    return entry;
#endif
}

} // namespace PortNaming
