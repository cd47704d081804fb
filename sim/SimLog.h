// Calendar helpers, a seeded random source and the generator for the
// simulated locator's memory (its log of one-second records).
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct Date
{
    int year = 0;  // full year, e.g. 2026
    int month = 0;  // 1..12
    int day = 0;  // 1..31

    bool valid() const;
    friend bool operator==(const Date &, const Date &) = default;
};

// Days since 1970-01-01 (proleptic Gregorian); only meaningful for valid dates.
int64_t daysFromCivil(const Date &d);
Date civilFromDays(int64_t days);

// "dd/mm/yy" with the year read as 2000+yy. False unless it is a real date.
bool parseDdMmYy(std::string_view text, Date *out);
std::string formatDdMmYy(const Date &d);

// "hh:mm:ss" -> seconds since midnight, or -1 if malformed or out of range.
int parseHhMmSs(std::string_view text);
std::string formatHhMmSs(int secondsOfDay);

// The PC's local date/time as seconds since 1970-01-01 00:00 *local*.
int64_t localNowCivilSeconds();
Date localToday();

// Random numbers that depend only on the seed: mt19937's output is fixed by
// the standard, the standard distributions are not, so we map it ourselves.
class SimRandom
{
public:
    explicit SimRandom(uint32_t seed)
        : eng_(seed)
    { }
    uint32_t below(uint32_t n);  // uniform in [0, n), n > 0
    int range(int lo, int hi);  // uniform in [lo, hi]
    bool chance(int percent) { return range(0, 99) < percent; }

private:
    std::mt19937 eng_;
};

struct LogLine
{
    int64_t day = -1;  // daysFromCivil() of the record, -1 for undated ("FF") lines
    std::string text;  // whole line including "\r\n"
};

struct LogParams
{
    uint32_t seed = 1;
    int months = 4;
    Date endDate;  // invalid (year 0) means today
    int targetRecords = 3000;  // dated records, the unknown-mode one included
    int ffLines = 3;
};

// Sessions of consecutive seconds on random days, all four modes, `ffLines`
// erased-flash lines between sessions and one record with an unknown mode
// letter. Same params, same bytes.
std::vector<LogLine> generateLog(const LogParams &p);

}  // namespace sim
