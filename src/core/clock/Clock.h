#pragma once

#include <QDate>
#include <QDateTime>

// The one wall clock every part of the program reads: file names, "today" for
// a transfer's range, the locator's clock settings, an import's time stamp.
// Tests install a clock of their own (tests/support/TestClock.h), so a day's
// change or a fixed date never depends on when the suite runs.
class Clock
{
public:
    // Local time, as the locator and the file names use it.
    static QDateTime now();
    static QDate today() { return now().date(); }
    static QDateTime nowUtc() { return now().toUTC(); }

protected:
    Clock() = default;
    virtual ~Clock() = default;
    Clock(const Clock &) = delete;
    Clock &operator=(const Clock &) = delete;

    virtual QDateTime read() const = 0;
    // Replaces the wall clock until called with nullptr. Not owned.
    static void install(const Clock *clock);
};
