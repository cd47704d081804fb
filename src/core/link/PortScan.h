#pragma once

#include "core/link/Protocol.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class PacedWriter;
class SerialPort;

// Looks for a locator on COM ports 1 to 16, one port after the other on the
// probe port, asking `accept` about every locator that answers; the first
// one accepted ends the scan. Runs from the event loop (cancel() stops it
// between any two steps) and writes only through the paced writer.
class PortScan : public QObject
{
    Q_OBJECT
public:
    static constexpr int kFirstPort = 1;
    static constexpr int kLastPort = 16;
    // Port list entries a scan compares against (the rest are kept, not compared).
    static constexpr int kPortListTable = 100;

    struct Hooks
    {
        // A port is about to be tested.
        std::function<void(int port)> checking;
        // It could not be opened: 8002 (no such port) or another open error.
        // True tests it all the same (an unopened port costs no pause and
        // yields nothing); false ends the scan there, without `finished`.
        std::function<bool(int port, int openError, const QString &reason)> notOpened;
        // What the port answered, read once (empty when nothing came).
        std::function<void(int port, const QByteArray &reply)> replied;
        // A locator answered; true takes it (the scan ends there).
        std::function<bool(int port, const QByteArray &reply, const Protocol::ProbeResult &probe)> accept;
        // The scan is over: the accepted port, or 0.
        std::function<void(int acceptedPort)> finished;
    };

    PortScan(SerialPort &probePort, PacedWriter &writer, QObject *parent = nullptr);

    // extraPause gives each locator one more long pause to answer (a known
    // port's test). A hook may call start() again ("Search again?").
    void start(Hooks hooks, int firstPort = kFirstPort, int lastPort = kLastPort, bool extraPause = false);
    // Stops at once: the probe port is closed and nothing more is written;
    // `finished` is not called.
    void cancel();
    bool isRunning() const { return m_running; }
    int currentPort() const { return m_running ? m_port : 0; }

private:
    void testPort();
    void onReply(const QByteArray &reply);
    void end(int acceptedPort);

    SerialPort &m_probe;
    PacedWriter &m_writer;
    // Shared so that a hook may restart the scan (replacing the hooks) while
    // it runs: each call holds its own reference until it returns.
    std::shared_ptr<const Hooks> m_hooks = std::make_shared<const Hooks>();
    QTimer m_next;
    int m_port = 0;
    int m_lastPort = 0;
    bool m_running = false;
    bool m_extraPause = false;
    quint64 m_run = 0;  // tells a cancelled scan's late reply from the current one's
};
