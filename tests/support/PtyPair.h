#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QString>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

// A bare pseudo-terminal linked as COMn: the test plays the locator by hand
// on the master side, byte for byte.
class PtyPair
{
public:
    PtyPair(const QString &portsDir, int comNumber)
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            return;
        m_slavePath = QString::fromLocal8Bit(::ptsname(m_master));
        // Hold the slave open in raw mode so the master never sees a hang-up.
        m_slave = ::open(m_slavePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        termios t{};
        ::tcgetattr(m_slave, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(m_slave, TCSANOW, &t);
        m_link = portsDir + QStringLiteral("/COM%1").arg(comNumber);
        QFile::remove(m_link);
        QFile::link(m_slavePath, m_link);
    }
    ~PtyPair() { closeAll(); }
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool ok() const { return m_master >= 0 && m_slave >= 0; }
    QString link() const { return m_link; }

    bool send(const QByteArray &bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_master, bytes.constData() + done, size_t(bytes.size() - done));
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }

    // Everything the program wrote, waiting until at least `atLeast` bytes
    // came or the deadline passed.
    // Reads what the program writes, letting its event loop run meanwhile:
    // paced commands go out from timers, one character at a time.
    QByteArray receive(int atLeast = 1, int timeoutMs = 5000)
    {
        QByteArray out;
        QDeadlineTimer deadline(timeoutMs);
        while (m_master >= 0) {
            if (out.size() < atLeast)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            pollfd p{m_master, POLLIN, 0};
            const int wait
                = out.size() >= atLeast ? 0 : int(qMin<qint64>(5, qMax<qint64>(0, deadline.remainingTime())));
            const int ready = ::poll(&p, 1, wait);
            if (ready <= 0 || !(p.revents & POLLIN)) {
                if (out.size() >= atLeast || deadline.hasExpired())
                    break;
                continue;
            }
            char buf[4096];
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n <= 0)
                break;
            out.append(buf, n);
        }
        return out;
    }

    // The device disappears: both ends closed, link removed.
    void closeAll()
    {
        if (m_slave >= 0)
            ::close(m_slave);
        if (m_master >= 0)
            ::close(m_master);
        m_slave = m_master = -1;
        if (!m_link.isEmpty())
            QFile::remove(m_link);
    }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QString m_link;
};
