#include "core/link/PortNaming.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#ifndef Q_OS_WIN
#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace PortNaming {

static QString &overrideFolder()
{
    static QString folder;
    return folder;
}

static QString &overrideDeviceFolder()
{
    static QString folder;
    return folder;
}

QString PortsFolder()
{
    if (!overrideFolder().isEmpty())
        return overrideFolder();
    const QString env = qEnvironmentVariable("LOCATOR_PORTS_DIR");
    if (!env.isEmpty())
        return env;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/korvex/ports");
}

void SetPortsFolder(const QString &folder)
{
    overrideFolder() = folder;
}

QString DeviceFolder()
{
    if (!overrideDeviceFolder().isEmpty())
        return overrideDeviceFolder();
    const QString env = qEnvironmentVariable("LOCATOR_DEVICE_DIR");
    if (!env.isEmpty())
        return env;
    return QStringLiteral("/dev");
}

void SetDeviceFolder(const QString &folder)
{
    overrideDeviceFolder() = folder;
}

QString TableDeviceName(int portNumber)
{
    struct Block
    {
        int first;
        int last;
        const char *device;
    };
    // Fixed for good: the port list remembers these numbers.
    static const Block kTable[] = {
        {1, 8, "rfcomm"},
        {9, 12, "ttyUSB"},
        {13, 16, "ttyACM"},
    };
    for (const Block &b : kTable) {
        if (portNumber >= b.first && portNumber <= b.last)
            return QString::fromLatin1(b.device) + QString::number(portNumber - b.first);
    }
    return {};
}

#ifndef Q_OS_WIN
static QString comEntry(int portNumber)
{
    return QDir(PortsFolder()).filePath(QStringLiteral("COM%1").arg(portNumber));
}

static QString tableDevicePath(int portNumber)
{
    const QString name = TableDeviceName(portNumber);
    return name.isEmpty() ? QString() : QDir(DeviceFolder()).filePath(name);
}
#endif

QString DevicePathFor(int portNumber)
{
    if (portNumber < 1)
        return {};
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(portNumber);
#else
    // An entry in the ports folder, even a dangling one, is the user's
    // choice for this number and always wins over the table.
    const QString entry = comEntry(portNumber);
    const QFileInfo info(entry);
    if (info.isSymLink() || info.exists())
        return info.exists() ? entry : QString();  // a dangling link: the device is gone
    const QString device = tableDevicePath(portNumber);
    if (device.isEmpty() || !QFileInfo::exists(device))
        return {};
    return device;
#endif
}

QString DeviceShownFor(int portNumber)
{
    if (portNumber < 1)
        return {};
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(portNumber);
#else
    const QFileInfo info(comEntry(portNumber));
    if (info.isSymLink())
        return info.symLinkTarget();
    if (info.exists())
        return info.absoluteFilePath();
    return tableDevicePath(portNumber);
#endif
}

bool AccessRefused(const QString &path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    return false;
#else
    if (path.isEmpty())
        return false;
    // The effective ids, as open() checks them.
    return ::faccessat(AT_FDCWD, QFile::encodeName(path).constData(), R_OK | W_OK, AT_EACCESS) != 0 && errno == EACCES;
#endif
}

QString RefusalAdvice(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    const QString device = QDir::toNativeSeparators(canonical.isEmpty() ? path : canonical);
    QString group;
#ifndef Q_OS_WIN
    struct stat st
    { };
    if (::stat(QFile::encodeName(device).constData(), &st) == 0 && st.st_gid != 0) {
        if (const struct group *g = ::getgrgid(st.st_gid))
            group = QString::fromLocal8Bit(g->gr_name);
    }
#endif
    if (group.isEmpty()) {
        return QStringLiteral("You may not open %1. Ask for read and write access to it "
                              "(usually membership of the group dialout), then log out and back in.")
            .arg(device);
    }
    return QStringLiteral("You may not open %1: it belongs to the group %2. Add yourself to that group "
                          "(sudo usermod -aG %2 $USER), then log out and back in.")
        .arg(device, group);
}

}  // namespace PortNaming
