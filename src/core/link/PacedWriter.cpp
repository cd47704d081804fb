#include "core/link/PacedWriter.h"

#include "core/link/SerialPort.h"

#include <algorithm>

PacedWriter::PacedWriter(QObject *parent)
    : QObject(parent)
{
    m_pause.setSingleShot(true);
    // The pauses keep their ratios (long = 4 x short) only if they are kept
    // to the millisecond.
    m_pause.setTimerType(Qt::PreciseTimer);
    connect(&m_pause, &QTimer::timeout, this, &PacedWriter::step);
}

PacedWriter::~PacedWriter() = default;

quint64 PacedWriter::send(SerialPort &port, const QByteArray &text, int pauseMs, Done done)
{
    Job job;
    job.id = ++m_lastId;
    job.port = &port;
    job.hasPort = true;
    job.text = text;
    job.pauseMs = qMax(0, pauseMs);
    job.done = std::move(done);
    const quint64 id = job.id;
    m_queue.push_back(std::move(job));
    if (!m_current)
        startNext();
    return id;
}

bool PacedWriter::isPending(quint64 command) const
{
    if (command == 0)
        return false;
    if (m_current && m_current->id == command)
        return true;
    return std::any_of(m_queue.begin(), m_queue.end(), [command](const Job &j) { return j.id == command; });
}

void PacedWriter::wait(int pauseMs, Done done)
{
    Job job;
    job.pauseMs = qMax(0, pauseMs);
    job.done = std::move(done);
    m_queue.push_back(std::move(job));
    if (!m_current)
        startNext();
}

void PacedWriter::cancel()
{
    ++m_generation;
    m_pause.stop();
    m_current.reset();
    m_queue.clear();
}

void PacedWriter::cancel(const SerialPort &port)
{
    std::erase_if(m_queue, [&](const Job &j) { return j.hasPort && j.port == &port; });
    if (m_current && m_current->hasPort && (m_current->port == &port || !m_current->port)) {
        ++m_generation;
        m_pause.stop();
        m_current.reset();
        startNext();
    }
}

void PacedWriter::startNext()
{
    if (m_queue.empty()) {
        emit idle();
        return;
    }
    m_current = std::move(m_queue.front());
    m_queue.pop_front();
    if (m_current->port)
        m_current->failuresAtStart = m_current->port->writeFailures();
    // The first character goes out from the event loop too, so that a
    // caller's own steps after send() run before any byte is on the wire.
    m_pause.start(0);
}

void PacedWriter::step()
{
    if (!m_current)
        return;
    Job &job = *m_current;
    if (!job.hasPort) {
        // A bare pause: the first step starts it, the second ends it.
        if (job.next++ == 0 && job.pauseMs > 0) {
            m_pause.start(job.pauseMs);
            return;
        }
        finish();
        return;
    }
    SerialPort *port = job.port.data();
    if (job.next >= job.text.size()) {
        // Writes do not wait for the device: the command is done when its
        // characters have left, or failed to (then the port counts it).
        if (port && port->outputPending()) {
            m_pause.start(kDrainCheckMs);
            return;
        }
        finish();
        return;
    }
    if (!port || !port->isOpen()) {
        job.ok = false;
        finish();
        return;
    }
    const char c = job.text.at(job.next++);
    const int pauseMs = job.pauseMs;
    const quint64 generation = m_generation;
    const bool written = port->output(QByteArray(1, c));
    // The write may have found the device gone, and whoever handled that
    // may have dropped this command: then it is no longer ours to pace.
    if (generation != m_generation || !m_current)
        return;
    if (!written)
        m_current->ok = false;
    m_pause.start(pauseMs);
}

void PacedWriter::finish()
{
    Job job = std::move(*m_current);
    m_current.reset();
    ++m_generation;
    const bool ok = job.ok
        && (!job.hasPort || (job.port && job.port->isOpen() && job.port->writeFailures() == job.failuresAtStart));
    if (job.done)
        job.done(ok);
    // The callback may have queued, cancelled or started something.
    if (!m_current && !m_pause.isActive())
        startNext();
}
