#pragma once

#include "core/clock/Clock.h"

// A clock the test sets: installed while it lives. Until set it reads the
// wall clock, so a fixture may own one and only the tests that care fix it.
class TestClock : public Clock
{
public:
    TestClock() { install(this); }
    explicit TestClock(const QDateTime &at)
        : m_at(at)
    {
        install(this);
    }
    ~TestClock() override { install(nullptr); }

    void set(const QDateTime &at) { m_at = at; }
    void advance(qint64 seconds) { m_at = m_at.addSecs(seconds); }

protected:
    QDateTime read() const override { return m_at.isValid() ? m_at : QDateTime::currentDateTime(); }

private:
    QDateTime m_at;
};
