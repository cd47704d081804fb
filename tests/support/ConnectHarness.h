// Shared by the connecting tests: simulated locators on pseudo-terminals in
// the test's private ports folder, and a recorder of the status line as the
// user would see it between repaints.
#pragma once

#include "LocatorSimulator.h"

#include <QColor>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QList>
#include <QPair>
#include <QQueue>
#include <QTimer>

#include <initializer_list>
#include <memory>

namespace connecttest {

inline const QColor kRed(255, 0, 0);
inline const QColor kDarkGrey(64, 64, 64);
inline const QColor kYellow(255, 255, 0);
inline const QColor kDarkRed(192, 0, 0);
inline const QColor kGreen(0, 128, 0);

// The probe reads once, right after the pause that follows "#X": 20 ms short
// pauses give the locator 80 ms to answer, enough on a loaded machine
// running sanitizer builds side by side.
inline constexpr int kProbePaceMs = 20;

inline QColor textColor(const QLabel *label)
{
    return label->palette().color(QPalette::WindowText);
}

inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeAll(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Replies at once (no line-rate pacing) so the single read after the probe's
// last pause always finds the answer; one live line right after "#FV" and
// then none for a minute, so no live text mixes into what a test checks.
inline sim::SimConfig quickLocator(const std::string &serial, const std::string &user = "BOB",
                                   const std::string &model = "LOC2000", const std::string &firmware = "1.23")
{
    sim::SimConfig c;
    c.serial = serial;
    c.user = user;
    c.model = model;
    c.firmware = firmware;
    c.throttled = false;
    c.liveIntervalMs = 60000;
    return c;
}

inline std::unique_ptr<sim::LocatorSimulator> startLocator(const QString &portsDir, int com, sim::SimConfig cfg)
{
    auto s = std::make_unique<sim::LocatorSimulator>(std::move(cfg));
    std::string error;
    if (!s->start(QDir(portsDir).filePath(QStringLiteral("COM%1").arg(com)).toStdString(), &error)) {
        qWarning("simulator on COM%d did not start: %s", com, error.c_str());
        return nullptr;
    }
    return s;
}

// Replaces the scripted answers to the coming questions, in order.
inline void answers(QQueue<bool> &queue, std::initializer_list<bool> list)
{
    queue.clear();
    for (bool b : list)
        queue.enqueue(b);
}

// Every distinct text the status line shows, with its colour: sampled
// whenever events run and at every paint (the window paints the status line
// at once between the steps of a scan).
class StatusRecorder : public QObject
{
public:
    explicit StatusRecorder(QLabel *label)
        : m_label(label)
    {
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { sample(); });
        m_timer.start();
        label->installEventFilter(this);
    }
    ~StatusRecorder() override { m_label->removeEventFilter(this); }
    void sample()
    {
        const QPair<QString, QColor> now{m_label->text(), textColor(m_label)};
        if (m_seen.isEmpty() || m_seen.last() != now)
            m_seen.append(now);
    }
    QStringList texts() const
    {
        QStringList out;
        for (const auto &s : m_seen)
            out << s.first;
        return out;
    }
    QColor colorOf(const QString &text) const
    {
        for (const auto &s : m_seen) {
            if (s.first == text)
                return s.second;
        }
        return {};
    }
    void clear() { m_seen.clear(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_label && event->type() == QEvent::Paint)
            sample();
        return false;
    }

private:
    QLabel *m_label;
    QTimer m_timer;
    QList<QPair<QString, QColor>> m_seen;
};

// The commands a locator received, as Qt texts, for readable comparisons.
inline QStringList commandsOf(const sim::LocatorSimulator &s)
{
    QStringList out;
    for (const std::string &c : s.commands())
        out << QString::fromStdString(c);
    return out;
}

}  // namespace connecttest
