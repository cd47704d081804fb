#include "core/link/SerialPort.h"

#include "core/link/PortNaming.h"

#include <QFileInfo>
#include <QMetaObject>

#include <utility>

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

SerialPort::SerialPort(QObject *parent)
    : QObject(parent)
{
    connect(&m_port, &QSerialPort::readyRead, this, &SerialPort::onReadyRead);
    connect(&m_port, &QSerialPort::bytesWritten, this, &SerialPort::onBytesWritten);
    m_writeWatch.setSingleShot(true);
    m_writeWatch.setInterval(kWriteTimeoutMs);
    connect(&m_writeWatch, &QTimer::timeout, this, [this] {
        if (outputPending())
            writeFailed();
    });
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialPort::onError);
    m_settle.setSingleShot(true);
    m_settle.setTimerType(Qt::PreciseTimer);
    connect(&m_settle, &QTimer::timeout, this, [this] {
        if (!m_dispatching)
            dispatch();
    });
    m_linePoll.setInterval(kLinePollMs);
    connect(&m_linePoll, &QTimer::timeout, this, &SerialPort::pollLines);
}

SerialPort::~SerialPort()
{
    close();
}

bool SerialPort::setSettings(const QString &settings)
{
    const QStringList parts = settings.split(QLatin1Char(','));
    if (parts.size() != 4)
        return false;
    bool ok = false;
    const int baud = parts[0].trimmed().toInt(&ok);
    if (!ok || baud <= 0)
        return false;

    QSerialPort::Parity parity;
    const QString p = parts[1].trimmed().toLower();
    if (p == QLatin1String("n"))
        parity = QSerialPort::NoParity;
    else if (p == QLatin1String("e"))
        parity = QSerialPort::EvenParity;
    else if (p == QLatin1String("o"))
        parity = QSerialPort::OddParity;
    else if (p == QLatin1String("m"))
        parity = QSerialPort::MarkParity;
    else if (p == QLatin1String("s"))
        parity = QSerialPort::SpaceParity;
    else
        return false;

    const int bits = parts[2].trimmed().toInt(&ok);
    if (!ok || bits < 5 || bits > 8)
        return false;

    QSerialPort::StopBits stop;
    const QString s = parts[3].trimmed();
    if (s == QLatin1String("1"))
        stop = QSerialPort::OneStop;
    else if (s == QLatin1String("1.5"))
        stop = QSerialPort::OneAndHalfStop;
    else if (s == QLatin1String("2"))
        stop = QSerialPort::TwoStop;
    else
        return false;

    m_settingsText = settings;
    m_baud = baud;
    m_parity = parity;
    m_dataBits = static_cast<QSerialPort::DataBits>(bits);
    m_stopBits = stop;
    if (m_port.isOpen()) {
        // A pty ignores these; a real port takes them. Neither is a failure of the link.
        m_port.setBaudRate(m_baud);
        m_port.setParity(m_parity);
        m_port.setDataBits(m_dataBits);
        m_port.setStopBits(m_stopBits);
    }
    return true;
}

void SerialPort::setDTREnable(bool on)
{
    m_dtr = on;
    if (m_port.isOpen())
        m_port.setDataTerminalReady(on);  // unsupported on a pty: harmless
}

QString SerialPort::devicePath() const
{
    return PortNaming::DevicePathFor(m_portNumber);
}

int SerialPort::open()
{
    m_lastErrorText.clear();
    m_accessRefused = false;
    if (m_port.isOpen()) {
        m_lastError = PortAlreadyOpen;
        m_lastErrorText = QStringLiteral("port already open");
        return m_lastError;
    }
    const QString path = devicePath();
    if (path.isEmpty()) {
        m_lastError = InvalidPortNumber;
        m_lastErrorText = QStringLiteral("invalid port number");
        return m_lastError;
    }
    m_port.setPortName(path);
    m_port.setReadBufferSize(0);  // never let Qt drop bytes; input() caps each piece
    if (!m_port.open(QIODevice::ReadWrite)) {
        const auto err = m_port.error();
        m_lastErrorText = m_port.errorString();
        m_lastError = err == QSerialPort::DeviceNotFoundError ? InvalidPortNumber : PortUnavailable;
        // Qt reports a device in use and one we may not open alike; only
        // the second has a fix the user can make, so tell them apart.
        m_accessRefused = m_lastError == PortUnavailable && PortNaming::AccessRefused(path);
        m_port.clearError();
        return m_lastError;
    }
    m_port.setBaudRate(m_baud);
    m_port.setParity(m_parity);
    m_port.setDataBits(m_dataBits);
    m_port.setStopBits(m_stopBits);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (m_dtr)
        m_port.setDataTerminalReady(*m_dtr);
    m_port.clearError();
    m_pending.clear();
    m_receivePending = false;
    m_inputStopped = false;
    m_lastError = NoError;
    // The state at opening is the baseline: only later changes are events.
    m_lastLines = readLineStatus();
    if (m_lastLines.linesKnown || m_lastLines.countsKnown)
        m_linePoll.start();
    return NoError;
}

void SerialPort::close()
{
    m_linePoll.stop();
    m_settle.stop();
    m_writeWatch.stop();
    m_pending.clear();
    m_receivePending = false;
    m_inputStopped = false;
    if (m_port.isOpen()) {
        // What is still queued goes to the device as far as it takes it
        // without waiting; a command that ended just now is not cut short.
        if (m_port.bytesToWrite() > 0)
            m_port.flush();
        m_port.close();
    }
}

bool SerialPort::isOpen() const
{
    return m_port.isOpen();
}

void SerialPort::pullFromOs()
{
    // Bytes the OS holds reach QSerialPort's buffer only through the event
    // loop or a wait. A polled port is read once, right after a pause, so it
    // takes what the OS holds. An event-driven port never does: bytes that
    // came since its event raise an event of their own, and reading them here
    // would leave Qt's pending read notification to find nothing, which Qt
    // reports as a resource error, a link that looks lost.
    if (m_rThreshold > 0)
        return;
    const qint64 cap = m_inBufferSize > 0 ? m_inBufferSize : kDefaultInBuffer;
    while (m_port.bytesAvailable() < cap && m_port.waitForReadyRead(0)) { }
}

QByteArray SerialPort::input()
{
    if (!m_port.isOpen())
        return {};
    pullFromOs();
    const qint64 cap = m_inputLen > 0 ? m_inputLen : (m_inBufferSize > 0 ? m_inBufferSize : kDefaultInBuffer);
    if (m_inputStopped) {
        m_port.readAll();
        return {};
    }
    QByteArray data = m_port.read(cap);
    if (m_nullDiscard)
        data.replace('\0', QByteArray());
    if (m_eofEnable) {
        if (const qsizetype end = data.indexOf('\x1a'); end >= 0) {
            data.truncate(end + 1);
            m_port.readAll();
            m_inputStopped = true;
            raiseEvent(EvEOF);
        }
    }
    if (m_port.bytesAvailable() > 0 && m_rThreshold > 0) {
        // What did not fit in this piece comes with the next event.
        m_receivePending = true;
        scheduleDispatch();
    }
    return data;
}

bool SerialPort::output(const QByteArray &bytes)
{
    if (!m_port.isOpen())
        return false;
    m_inputStopped = false;  // a new command: its answer is taken in again
    if (m_port.write(bytes) != bytes.size())
        return false;
    if (m_port.bytesToWrite() > 0 && !m_writeWatch.isActive())
        m_writeWatch.start();
    if (m_sThreshold > 0)
        raiseEvent(EvSend);
    return true;
}

bool SerialPort::outputPending() const
{
    return m_port.isOpen() && m_port.bytesToWrite() > 0;
}

void SerialPort::onBytesWritten()
{
    if (m_port.bytesToWrite() > 0)
        m_writeWatch.start();  // progress: a full interval from now
    else
        m_writeWatch.stop();
}

void SerialPort::writeFailed()
{
    // Bytes the device will not take are dropped, so that the next command
    // does not queue behind them; whoever sent them sees the count move.
    m_writeWatch.stop();
    ++m_writeFailures;
    if (m_port.isOpen())
        m_port.clear(QSerialPort::Output);
}

void SerialPort::raiseEvent(int event)
{
    m_pending.push_back(event);
    scheduleDispatch();
}

void SerialPort::onReadyRead()
{
    if (m_inputStopped) {
        m_port.readAll();  // after the end character: not taken in
        return;
    }
    if (m_rThreshold <= 0)
        return;  // polled port: no receive events
    m_receivePending = true;
    // Arrivals are gathered for a few milliseconds before the event goes
    // out: a locator at line speed trickles in a few bytes at a time, and
    // handling (and drawing) each trickle separately would keep a core busy.
    // Inside a running handler new data waits for the loop in dispatch().
    if (m_dispatching || m_settle.isActive())
        return;
    if (m_settleMs <= 0)
        dispatch();
    else
        m_settle.start(m_settleMs);
}

void SerialPort::onError(QSerialPort::SerialPortError error)
{
    // clearError() itself reports NoError through this signal.
    switch (error) {
    case QSerialPort::NoError:
        break;
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
        // The device vanished under us (a hung-up pty or a dropped Bluetooth
        // link reports a read error on every poll); keep nothing half-open.
        emit deviceLost();
        close();  // whoever handled the loss may have closed it already
        break;
    case QSerialPort::WriteError:
        // The device refused queued bytes: the same failure as a write
        // that never completes.
        if (outputPending())
            writeFailed();
        break;
    default:
        // Unsupported line controls on a pty and transient errors do not
        // break the link.
        break;
    }
}

void SerialPort::scheduleDispatch()
{
    if (m_dispatchScheduled || m_dispatching)
        return;
    m_dispatchScheduled = true;
    QMetaObject::invokeMethod(this, &SerialPort::dispatch, Qt::QueuedConnection);
}

void SerialPort::dispatch()
{
    m_dispatchScheduled = false;
    if (m_dispatching)
        return;
    m_dispatching = true;
    for (;;) {
        int event;
        if (!m_pending.empty()) {
            event = m_pending.front();
            m_pending.pop_front();
        } else if (m_receivePending && m_port.isOpen()) {
            m_receivePending = false;
            if (m_port.bytesAvailable() <= 0) {
                pullFromOs();
                if (m_port.bytesAvailable() <= 0)
                    continue;
            }
            event = EvReceive;
        } else {
            break;
        }
        m_commEvent = event;
        emit OnComm();
        // Bytes that came while the handler ran raise no new readyRead (Qt
        // does not re-emit it inside its own emission): pick them up here.
        if (event == EvReceive && m_rThreshold > 0 && m_port.isOpen() && m_port.bytesAvailable() > 0)
            m_receivePending = true;
    }
    m_dispatching = false;
}

SerialPort::LineStatus SerialPort::readLineStatus()
{
    if (m_lineSource)
        return m_lineSource();
    LineStatus status;
#ifdef Q_OS_LINUX
    const int fd = int(m_port.handle());
    if (fd < 0)
        return status;
    int bits = 0;
    if (::ioctl(fd, TIOCMGET, &bits) == 0) {
        status.linesKnown = true;
        status.lines = (bits & TIOCM_CTS ? LineCTS : 0) | (bits & TIOCM_DSR ? LineDSR : 0)
            | (bits & TIOCM_CD ? LineCD : 0) | (bits & TIOCM_RI ? LineRing : 0);
    }
    serial_icounter_struct counts{};
    if (::ioctl(fd, TIOCGICOUNT, &counts) == 0) {
        status.countsKnown = true;
        status.breaks = quint32(counts.brk);
        status.framing = quint32(counts.frame);
        status.overrun = quint32(counts.overrun);
        status.rxOverflow = quint32(counts.buf_overrun);
        status.parity = quint32(counts.parity);
    }
#endif
    return status;
}

void SerialPort::pollLines()
{
    if (!m_port.isOpen()) {
        m_linePoll.stop();
        return;
    }
    const LineStatus now = readLineStatus();
    const LineStatus was = std::exchange(m_lastLines, now);
    if (now.linesKnown && was.linesKnown) {
        const int changed = now.lines ^ was.lines;
        if (changed & LineCTS)
            raiseEvent(EvCTS);
        if (changed & LineDSR)
            raiseEvent(EvDSR);
        if (changed & LineCD)
            raiseEvent(EvCD);
        // The ring event marks a ring arriving, not its end.
        if (changed & now.lines & LineRing)
            raiseEvent(EvRing);
    }
    if (now.countsKnown && was.countsKnown) {
        // One event per kind and poll, however many errors the burst held:
        // each becomes a message the user has to answer.
        if (now.breaks != was.breaks)
            raiseEvent(EventBreak);
        if (now.framing != was.framing)
            raiseEvent(EventFrame);
        if (now.overrun != was.overrun)
            raiseEvent(EventOverrun);
        if (now.rxOverflow != was.rxOverflow)
            raiseEvent(EventRxOver);
        if (now.parity != was.parity)
            raiseEvent(EventRxParity);
    }
    if (!now.linesKnown && !now.countsKnown)
        m_linePoll.stop();
}
