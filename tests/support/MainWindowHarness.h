// Shared by the main window's tests: its colours, connecting its working
// port to a pseudo-terminal or a simulated locator, and a recorder of the
// status line as the user would see it between repaints.
#pragma once

#include "PtyPair.h"
#include "SimLocators.h"
#include "TestFiles.h"
#include "WindowFixture.h"
#include "gui/main/frmMain.h"
#include "ui_frmMain.h"

#include <QColor>
#include <QEvent>
#include <QLabel>
#include <QList>
#include <QPair>
#include <QQueue>
#include <QTest>
#include <QTimer>

#include <initializer_list>
#include <memory>

namespace MainWindowHarness {

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

// The control's own switch; a disabled tab page disables its children for display only.
inline bool ownEnabled(const QWidget *w)
{
    return !w->testAttribute(Qt::WA_ForceDisabled);
}

// Opens the working port on a hand-driven pseudo-terminal as a connect would.
inline std::unique_ptr<PtyPair> connectPty(frmMain &w, const QString &portsDir, int com)
{
    auto pty = std::make_unique<PtyPair>(portsDir, com);
    if (!pty->ok())
        return nullptr;
    w.OpenWorkingPort(com);
    if (!w.MSComm1().isOpen())
        return nullptr;
    w.SetConnectedState(true);
    return pty;
}

// Opens the working port on the locator `s` on COM<com>, as a connect would.
inline bool connectSim(frmMain &w, const sim::LocatorSimulator &s, int com)
{
    w.OpenWorkingPort(com);
    w.SetConnectedState(true);
    return w.MSComm1().isOpen() && QTest::qWaitFor([&] { return s.waitForPortOpenCount(1, 0); }, 5000);
}

// The locator the window would have identified: LOC2000 001234 of BOB.
inline void showIdentity(frmMain &w)
{
    w.form()->txtModel->setText(QStringLiteral("LOC2000"));
    w.form()->txtSerialNo->setText(QStringLiteral("001234"));
    w.form()->txtUser->setText(QStringLiteral("BOB"));
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

}  // namespace MainWindowHarness
