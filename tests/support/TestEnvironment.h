#pragma once

#include <QDir>
#include <QTemporaryDir>
#include <QtGlobal>

// A private home for one test: documents, config (port list) and ports
// folders all live under a temporary directory, never the user's own.
class TestEnvironment
{
public:
    TestEnvironment()
    {
        qputenv("HOME", m_dir.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (m_dir.path() + "/.config").toLocal8Bit());
        qputenv("XDG_DATA_HOME", (m_dir.path() + "/.local/share").toLocal8Bit());
        qputenv("LOCATOR_PORTS_DIR", portsDir().toLocal8Bit());
        // The system's serial devices (the port table) stay out of tests.
        qputenv("LOCATOR_DEVICE_DIR", devicesDir().toLocal8Bit());
        QDir().mkpath(portsDir());
        QDir().mkpath(devicesDir());
        QDir().mkpath(documentsDir());
    }
    QString root() const { return m_dir.path(); }
    QString documentsDir() const { return m_dir.path() + "/Documents"; }
    QString configDir() const { return m_dir.path() + "/.config"; }
    QString dataDir() const { return documentsDir() + "/korvex/data"; }
    QString portListPath() const { return configDir() + "/korvex/ports.ini"; }
    QString portsDir() const { return m_dir.path() + "/ports"; }
    QString devicesDir() const { return m_dir.path() + "/dev"; }

private:
    QTemporaryDir m_dir;
};
