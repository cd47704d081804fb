#include "gui/tools/TroubleshootLog.h"

#include <QDir>
#include <QFileInfo>

TroubleshootLog::~TroubleshootLog()
{
    close();
}

bool TroubleshootLog::create(const QString &path)
{
    close();
    m_error.clear();
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        m_error = QStringLiteral("the folder %1 cannot be created").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = m_file.errorString();
        return false;
    }
    return true;
}

bool TroubleshootLog::appendLine(const QByteArray &text)
{
    m_error.clear();
    if (!m_file.isOpen()) {
        m_error = QStringLiteral("no troubleshooting log is open");
        return false;
    }
    const QByteArray line = text + "\r\n";
    if (m_file.write(line) != line.size() || !m_file.flush()) {
        m_error = m_file.errorString();
        return false;
    }
    return true;
}

bool TroubleshootLog::flush()
{
    return !m_file.isOpen() || m_file.flush();
}

void TroubleshootLog::close()
{
    if (m_file.isOpen()) {
        m_file.flush();
        m_file.close();
    }
}

TroubleshootLog &ProcessTroubleshootLog()
{
    static TroubleshootLog log;
    return log;
}
