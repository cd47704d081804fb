#pragma once

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QList>
#include <QObject>

#include <algorithm>

// What the benchmarks of the window thread share: how long the event loop
// stays busy at a stretch, and running it until a condition holds.

// The longest time between the event loop waking up and its next wait.
class LoopWatch
{
public:
    LoopWatch()
    {
        auto *d = QAbstractEventDispatcher::instance();
        // A nested processEvents() wakes the dispatcher without it having
        // waited: the stretch up to it (a pause slept on the thread, say)
        // counts as busy.
        m_connections = {QObject::connect(d, &QAbstractEventDispatcher::awake,
                                          [this] {
                                              lap();
                                              m_busy.start();
                                          }),
                         QObject::connect(d, &QAbstractEventDispatcher::aboutToBlock, [this] { lap(); })};
        m_busy.start();
    }
    ~LoopWatch()
    {
        for (const auto &c : m_connections)
            QObject::disconnect(c);
    }
    void reset()
    {
        m_longestMs = 0;
        m_busy.start();
    }
    double longestMs()
    {
        lap();
        return m_longestMs;
    }

private:
    void lap()
    {
        if (m_busy.isValid()) {
            const double ms = double(m_busy.nsecsElapsed()) / 1e6;
            m_longestMs = std::max(m_longestMs, ms);
        }
        m_busy.invalidate();
    }
    QElapsedTimer m_busy;
    double m_longestMs = 0;
    QList<QMetaObject::Connection> m_connections;
};

// Lets the event loop run until `done` holds (a handler that ran to the end
// by itself finds it true at once).
template<class Done>
bool waitUntil(Done done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}
