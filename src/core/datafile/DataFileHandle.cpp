#include "core/datafile/DataFileHandle.h"

#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <sys/file.h>
#endif

DataFileHandle::~DataFileHandle()
{
    close();
}

bool DataFileHandle::openForWrite(const QString &path)
{
    m_error.clear();
    if (m_file.isOpen()) {
        m_error = QStringLiteral("another data file is still open");
        return false;
    }
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder)) {
        m_error = QStringLiteral("the folder %1 cannot be created").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        m_error = m_file.errorString();
        return false;
    }
#ifdef Q_OS_UNIX
    // Other instances' FileLocked sees a file that is still being written.
    m_locked = ::flock(m_file.handle(), LOCK_EX | LOCK_NB) == 0;
#endif
    return true;
}

bool DataFileHandle::openForRead(const QString &path)
{
    m_error.clear();
    if (m_file.isOpen()) {
        m_error = QStringLiteral("the data file slot is in use");
        return false;
    }
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly)) {
        m_error = m_file.errorString();
        return false;
    }
    return true;
}

bool DataFileHandle::openExclusive(const QString &path)
{
    m_error.clear();
    if (m_file.isOpen()) {
        m_error = QStringLiteral("the data file slot is in use");
        return false;
    }
    if (!QFileInfo::exists(path)) {
        m_error = QStringLiteral("no such file");
        return false;
    }
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadWrite)) {
        m_error = m_file.errorString();
        return false;
    }
#ifdef Q_OS_UNIX
    // Advisory, but it is what cooperating programs (and our own writers) use.
    if (::flock(m_file.handle(), LOCK_EX | LOCK_NB) != 0) {
        m_error = QStringLiteral("the file is in use");
        m_file.close();
        return false;
    }
    m_locked = true;
#endif
    return true;
}

bool DataFileHandle::write(const QByteArray &bytes)
{
    m_error.clear();
    if (!m_file.isOpen() || !m_file.isWritable()) {
        m_error = QStringLiteral("no data file is open for writing");
        return false;
    }
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 n = m_file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0) {
            m_error = m_file.errorString();
            return false;
        }
        done += n;
    }
    return true;
}

void DataFileHandle::releaseLock()
{
#ifdef Q_OS_UNIX
    if (m_locked && m_file.isOpen())
        ::flock(m_file.handle(), LOCK_UN);
#endif
    m_locked = false;
}

void DataFileHandle::close()
{
    if (!m_file.isOpen())
        return;
    releaseLock();
    m_file.close();
}

bool FileLocked(DataFileHandle &handle, const QString &path)
{
    const bool busy = handle.isOpen();
    const bool opened = !busy && handle.openExclusive(path);
    handle.close();
    return !opened;
}
