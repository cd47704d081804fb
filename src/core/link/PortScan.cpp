#include "core/link/PortScan.h"

#include "core/link/PacedWriter.h"
#include "core/link/Probe.h"
#include "core/link/SerialPort.h"

PortScan::PortScan(SerialPort &probePort, PacedWriter &writer, QObject *parent)
    : QObject(parent)
    , m_probe(probePort)
    , m_writer(writer)
{
    m_next.setSingleShot(true);
    m_next.setInterval(0);
    connect(&m_next, &QTimer::timeout, this, &PortScan::testPort);
}

void PortScan::start(Hooks hooks, int firstPort, int lastPort, bool extraPause)
{
    cancel();
    m_extraPause = extraPause;
    m_hooks = std::make_shared<const Hooks>(std::move(hooks));
    m_port = firstPort;
    m_lastPort = lastPort;
    m_running = true;
    ++m_run;
    m_next.start();
}

void PortScan::cancel()
{
    if (!m_running)
        return;
    m_running = false;
    ++m_run;
    m_next.stop();
    m_writer.cancel(m_probe);
    if (m_probe.isOpen())
        m_probe.close();
}

void PortScan::testPort()
{
    if (!m_running)
        return;
    if (m_port > m_lastPort) {
        end(0);
        return;
    }
    // A hook may cancel or restart the scan: then this step is no longer ours.
    const quint64 run = m_run;
    const auto hooks = m_hooks;
    if (hooks->checking)
        hooks->checking(m_port);
    if (run != m_run || !m_running)
        return;
    const int opened = Probe::OpenProbePort(m_probe, m_port);
    if (opened != SerialPort::NoError && hooks->notOpened) {
        const bool goOn = hooks->notOpened(m_port, opened, m_probe.lastErrorText());
        if (run != m_run)
            return;
        if (!goOn) {
            m_running = false;
            return;
        }
    }
    if (!m_running)
        return;
    Probe::Exchange(m_writer, m_probe, m_extraPause, [this, run](const QByteArray &reply) {
        if (run == m_run)
            onReply(reply);
    });
}

void PortScan::onReply(const QByteArray &reply)
{
    const quint64 run = m_run;
    const auto hooks = m_hooks;
    if (hooks->replied) {
        hooks->replied(m_port, reply);
        if (run != m_run)
            return;
    }
    const Protocol::ProbeResult probe = Protocol::ReadProbeReply(reply);
    bool accepted = false;
    if (probe.found && hooks->accept) {
        accepted = hooks->accept(m_port, reply, probe);
        if (run != m_run)
            return;  // the answer cancelled or restarted the scan
    }
    // Whatever the answer, this port's test is over.
    if (m_probe.isOpen())
        m_probe.close();
    if (accepted) {
        end(m_port);
        return;
    }
    ++m_port;
    m_next.start();
}

void PortScan::end(int acceptedPort)
{
    m_running = false;
    if (m_probe.isOpen())
        m_probe.close();
    const auto hooks = m_hooks;
    if (hooks->finished)
        hooks->finished(acceptedPort);
}
