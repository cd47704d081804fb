#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// The one process-wide slot through which data files are written and read.
// Only one file can be open in it at a time; opening while in use fails.
class DataFileHandle
{
public:
    DataFileHandle() = default;
    ~DataFileHandle();
    DataFileHandle(const DataFileHandle &) = delete;
    DataFileHandle &operator=(const DataFileHandle &) = delete;

    // Creates (replacing) the file, making its folder if missing.
    bool openForWrite(const QString &path);
    bool openForRead(const QString &path);
    // Exclusive read/write open of an existing file; fails if the slot is busy
    // or another opener holds the file.
    bool openExclusive(const QString &path);

    // Writes all of the bytes and hands them to the OS, so nothing received
    // waits in our buffer if the program dies.
    bool write(const QByteArray &bytes);
    void close();

    bool isOpen() const { return m_file.isOpen(); }
    bool isWriting() const { return m_file.isOpen() && m_file.isWritable(); }
    QString path() const { return m_file.fileName(); }
    QString errorString() const { return m_error; }
    QFile &file() { return m_file; }

private:
    void releaseLock();

    QFile m_file;
    QString m_error;
    bool m_locked = false;
};

// True if the file cannot be opened exclusively for reading and writing.
// The handle is closed afterwards in every case.
bool FileLocked(DataFileHandle &handle, const QString &path);
