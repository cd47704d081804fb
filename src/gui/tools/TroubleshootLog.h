#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// The service window's record of everything the locator sent it: one line
// per received piece, pushed to disk at once so a crash or a pulled cable
// loses nothing already shown. It outlives the window that started it.
class TroubleshootLog
{
public:
    TroubleshootLog() = default;
    ~TroubleshootLog();
    TroubleshootLog(const TroubleshootLog &) = delete;
    TroubleshootLog &operator=(const TroubleshootLog &) = delete;

    // Creates (emptying) the file and its folder. An earlier log is closed first.
    bool create(const QString &path);
    // The piece as received, then CR LF, flushed.
    bool appendLine(const QByteArray &text);
    bool flush();
    void close();

    bool isOpen() const { return m_file.isOpen(); }
    QString path() const { return m_file.fileName(); }
    QString errorString() const { return m_error; }

private:
    QFile m_file;
    QString m_error;
};

// The process's one troubleshooting log.
TroubleshootLog &ProcessTroubleshootLog();
