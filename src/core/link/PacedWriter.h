#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <deque>
#include <functional>
#include <optional>

class SerialPort;

// Sends commands one character at a time with a pause after each, driven by
// a timer: between characters and during pauses the event loop runs, but no
// handler runs inside another. Commands queue: the characters of two
// commands never mix on the wire. A command is done after its last
// character's pause, once its characters have left for the device; its
// completion callback runs then.
class PacedWriter : public QObject
{
    Q_OBJECT
public:
    // ok: every character was written (none failed on the way to the
    // device) and the port is still open.
    using Done = std::function<void(bool ok)>;

    explicit PacedWriter(QObject *parent = nullptr);
    ~PacedWriter() override;

    // Queues `text` for `port`, `pauseMs` after each character. A port that
    // is closed when a character's turn comes ends the command at once
    // (ok = false): nothing is paced for a port nobody listens on. Returns
    // the command's number for isPending().
    quint64 send(SerialPort &port, const QByteArray &text, int pauseMs, Done done = {});
    // Queues a pause with no characters (a locator's extra time to answer).
    void wait(int pauseMs, Done done = {});

    bool isBusy() const { return m_current.has_value() || !m_queue.empty(); }
    // The command is queued or going out (not done, not cancelled).
    bool isPending(quint64 command) const;
    // Drops the command going out and every queued one; their callbacks do
    // not run. Nothing more is written.
    void cancel();
    // The same, for the commands of one port only (that port is closing).
    void cancel(const SerialPort &port);

signals:
    // Nothing is going out and nothing is queued.
    void idle();

private:
    struct Job
    {
        quint64 id = 0;
        QPointer<SerialPort> port;
        bool hasPort = false;
        QByteArray text;
        int pauseMs = 0;
        Done done;
        qsizetype next = 0;
        bool ok = true;
        quint64 failuresAtStart = 0;  // the port's write failures when the command began
    };
    // How often a command whose characters are still on their way is looked at.
    static constexpr int kDrainCheckMs = 5;

    void startNext();
    void step();
    void finish();

    std::deque<Job> m_queue;
    std::optional<Job> m_current;
    quint64 m_generation = 0;
    quint64 m_lastId = 0;  // changes whenever the current command ends or is dropped
    QTimer m_pause;
};
