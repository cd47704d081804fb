#pragma once

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>

#include <deque>
#include <functional>
#include <optional>

// A numbered serial port with the settings, events and error codes the
// locator link is written against. Port n is resolved by PortNaming.
//
// Events are delivered through OnComm() one at a time and never re-entered:
// a handler that lets pending events run will not see another OnComm()
// until it returns, so pieces are always handled in arrival order.
class SerialPort : public QObject
{
    Q_OBJECT
public:
    enum Event {
        EvSend = 1,
        EvReceive = 2,
        EvCTS = 3,
        EvDSR = 4,
        EvCD = 5,
        EvRing = 6,
        EvEOF = 7,
        EventBreak = 1001,
        EventCTSTO = 1002,
        EventDSRTO = 1003,
        EventFrame = 1004,
        EventOverrun = 1006,
        EventCDTO = 1007,
        EventRxOver = 1008,
        EventRxParity = 1009,
        EventTxFull = 1010,
        EventDCB = 1011,
    };
    enum OpenError {
        NoError = 0,
        InvalidPortNumber = 8002,  // no such port on this computer
        PortAlreadyOpen = 8005,
        PortUnavailable = 8010,  // exists but cannot be opened (in use, no permission, ...)
    };

    explicit SerialPort(QObject *parent = nullptr);
    ~SerialPort() override;

    // Configuration, applied at the next open (or at once where the port is open).
    // Output queues without a size limit and flow control is always off, so
    // neither has a setting.
    void setCommPort(int number) { m_portNumber = number; }
    int commPort() const { return m_portNumber; }
    bool setSettings(const QString &settings);  // "115200,n,8,1"
    QString settings() const { return m_settingsText; }
    void setRThreshold(int n) { m_rThreshold = n; }
    void setSThreshold(int n) { m_sThreshold = n; }
    void setInBufferSize(int n) { m_inBufferSize = n; }
    void setInputLen(int n) { m_inputLen = n; }
    void setNullDiscard(bool on) { m_nullDiscard = on; }
    void setEOFEnable(bool on) { m_eofEnable = on; }
    void setDTREnable(bool on);
    bool dtrEnabled() const { return m_dtr.value_or(false); }
    // False until setDTREnable: opening then leaves the line as the device has it.
    bool dtrControlled() const { return m_dtr.has_value(); }

    // Returns NoError or one of the OpenError codes; lastError() keeps it.
    int open();
    void close();
    bool isOpen() const;
    int lastError() const { return m_lastError; }
    QString lastErrorText() const { return m_lastErrorText; }
    // The last open failed because this user may not open the device
    // (PortUnavailable, which is otherwise skipped like an empty port).
    bool accessRefused() const { return m_accessRefused; }
    QString devicePath() const;

    // Everything received so far, including what the OS holds but the event
    // loop has not yet fetched. NUL bytes are dropped when asked to. With
    // end-of-file detection on, input stops after the end character (0x1A,
    // which is kept): what follows it is discarded until the next output().
    QByteArray input();
    // Queues the bytes for the device and returns at once: the event loop
    // writes them. False if the port is closed or refuses them. A write that
    // makes no progress for kWriteTimeoutMs (or that the device fails) is
    // dropped and counted in writeFailures().
    bool output(const QByteArray &bytes);
    // Bytes handed to output() that have not reached the device yet.
    bool outputPending() const;
    // Writes that could not complete since the port object was made.
    quint64 writeFailures() const { return m_writeFailures; }
    static constexpr int kWriteTimeoutMs = 1000;

    int CommEvent() const { return m_commEvent; }
    // Queues an event for delivery (used for the port's own events and errors).
    void raiseEvent(int event);

    // How long arriving bytes are gathered before a receive event (0: at once).
    void setReceiveSettleMs(int ms) { m_settleMs = ms; }
    static constexpr int kDefaultReceiveSettleMs = 20;

    // Pieces larger than this are not read in one go (the input buffer size).
    static constexpr int kDefaultInBuffer = 30000;

    // What the driver tells about the modem lines and its error counters.
    // A part the device cannot report (a pseudo-terminal reports neither)
    // is marked unknown and raises no events.
    enum Line { LineCTS = 1, LineDSR = 2, LineCD = 4, LineRing = 8 };
    struct LineStatus
    {
        bool linesKnown = false;
        int lines = 0;  // Line bits
        bool countsKnown = false;
        quint32 breaks = 0, framing = 0, overrun = 0, rxOverflow = 0, parity = 0;
    };
    using LineStatusSource = std::function<LineStatus()>;
    // Replaces the driver query (tests feed line states and counters here);
    // an empty source restores it. Takes effect at the next open.
    void setLineStatusSource(LineStatusSource source) { m_lineSource = std::move(source); }
    // Lines and counters are polled while the port is open: the window
    // thread never blocks waiting for a line change.
    static constexpr int kLinePollMs = 75;

signals:
    void OnComm();
    // The device went away (unplugged, Bluetooth link dropped, pty closed).
    void deviceLost();

private:
    void onReadyRead();
    void onBytesWritten();
    void writeFailed();
    void onError(QSerialPort::SerialPortError error);
    void scheduleDispatch();
    void dispatch();
    void pullFromOs();
    LineStatus readLineStatus();
    void pollLines();

    QSerialPort m_port;
    int m_portNumber = 1;
    QString m_settingsText = QStringLiteral("9600,n,8,1");
    qint32 m_baud = 9600;
    QSerialPort::Parity m_parity = QSerialPort::NoParity;
    QSerialPort::DataBits m_dataBits = QSerialPort::Data8;
    QSerialPort::StopBits m_stopBits = QSerialPort::OneStop;
    int m_rThreshold = 0;
    int m_sThreshold = 0;
    int m_inBufferSize = kDefaultInBuffer;
    int m_inputLen = 0;
    bool m_nullDiscard = false;
    bool m_eofEnable = false;
    bool m_inputStopped = false;  // the end character came; nothing is taken in until the next output
    std::optional<bool> m_dtr;
    int m_lastError = NoError;
    QString m_lastErrorText;
    bool m_accessRefused = false;
    int m_commEvent = 0;
    std::deque<int> m_pending;
    bool m_dispatching = false;
    bool m_dispatchScheduled = false;
    bool m_receivePending = false;
    int m_settleMs = kDefaultReceiveSettleMs;
    QTimer m_settle;
    QTimer m_writeWatch;  // runs while output waits; restarted by every progress
    quint64 m_writeFailures = 0;
    LineStatusSource m_lineSource;
    LineStatus m_lastLines;
    QTimer m_linePoll;
};
