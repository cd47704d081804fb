#include "gui/main/DemoLocator.h"

#include "LocatorSimulator.h"
#include "core/link/PortNaming.h"

#include <QDir>
#include <QStandardPaths>

DemoLocator::DemoLocator() = default;

QString DemoLocator::baseFolder()
{
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

DemoLocator::~DemoLocator()
{
    stop();
}

QString DemoLocator::portsFolder() const
{
    return m_dir ? m_dir->path() + QStringLiteral("/ports") : QString();
}

bool DemoLocator::start(QString *error)
{
    if (!m_dir)
        m_dir = std::make_unique<QTemporaryDir>(baseFolder() + QStringLiteral("/locator-demo-XXXXXX"));
    if (!m_dir->isValid()) {
        if (error)
            *error = QStringLiteral("no temporary folder: ") + m_dir->errorString();
        return false;
    }
    QDir().mkpath(portsFolder());
    PortNaming::SetPortsFolder(portsFolder());
    // Only the simulated unit: the system's serial devices stay out of a demonstration.
    PortNaming::SetDeviceFolder(portsFolder());
#ifndef Q_OS_WIN
    // The per-user configuration folder holds the port list.
    qputenv("XDG_CONFIG_HOME", (m_dir->path() + QStringLiteral("/config")).toLocal8Bit());
#endif

    m_sim = std::make_unique<sim::LocatorSimulator>();
    const std::string link = QDir(portsFolder()).filePath(QStringLiteral("COM%1").arg(kPort)).toStdString();
    std::string why;
    if (!m_sim->start(link, &why)) {
        if (error)
            *error = QStringLiteral("the demonstration locator could not start: ") + QString::fromStdString(why);
        m_sim.reset();
        return false;
    }
    return true;
}

void DemoLocator::stop()
{
    if (m_sim)
        m_sim->stop();
    m_sim.reset();
}

bool DemoLocator::running() const
{
    return m_sim && m_sim->running();
}
