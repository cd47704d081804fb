#include "SimLog.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace sim {

namespace {

bool isLeap(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

bool twoDigits(std::string_view s, size_t at, int *out)
{
    if (at + 2 > s.size())
        return false;
    const char a = s[at], b = s[at + 1];
    if (a < '0' || a > '9' || b < '0' || b > '9')
        return false;
    *out = (a - '0') * 10 + (b - '0');
    return true;
}

std::string twoDigitText(int v)
{
    char buf[3] = {char('0' + v / 10 % 10), char('0' + v % 10), 0};
    return buf;
}

}  // namespace

bool Date::valid() const
{
    return month >= 1 && month <= 12 && day >= 1 && day <= daysInMonth(year, month);
}

// Howard Hinnant's civil calendar algorithms.
int64_t daysFromCivil(const Date &d)
{
    int64_t y = d.year - (d.month <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (d.month + (d.month > 2 ? -3 : 9)) + 2) / 5 + d.day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

Date civilFromDays(int64_t z)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    Date d;
    d.day = int(doy - (153 * mp + 2) / 5 + 1);
    d.month = int(mp < 10 ? mp + 3 : mp - 9);
    d.year = int(yoe + era * 400 + (d.month <= 2 ? 1 : 0));
    return d;
}

bool parseDdMmYy(std::string_view text, Date *out)
{
    Date d;
    int yy = 0;
    if (text.size() != 8 || text[2] != '/' || text[5] != '/' || !twoDigits(text, 0, &d.day)
        || !twoDigits(text, 3, &d.month) || !twoDigits(text, 6, &yy))
        return false;
    d.year = 2000 + yy;
    if (!d.valid())
        return false;
    if (out)
        *out = d;
    return true;
}

std::string formatDdMmYy(const Date &d)
{
    return twoDigitText(d.day) + "/" + twoDigitText(d.month) + "/" + twoDigitText(d.year % 100);
}

int parseHhMmSs(std::string_view text)
{
    int h = 0, m = 0, s = 0;
    if (text.size() != 8 || text[2] != ':' || text[5] != ':' || !twoDigits(text, 0, &h) || !twoDigits(text, 3, &m)
        || !twoDigits(text, 6, &s) || h > 23 || m > 59 || s > 59)
        return -1;
    return h * 3600 + m * 60 + s;
}

std::string formatHhMmSs(int secondsOfDay)
{
    return twoDigitText(secondsOfDay / 3600) + ":" + twoDigitText(secondsOfDay / 60 % 60) + ":"
        + twoDigitText(secondsOfDay % 60);
}

int64_t localNowCivilSeconds()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    const Date d{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
    return daysFromCivil(d) * 86400 + tm.tm_hour * 3600 + tm.tm_min * 60 + std::min(tm.tm_sec, 59);
}

Date localToday()
{
    const int64_t s = localNowCivilSeconds();
    return civilFromDays(s / 86400);
}

uint32_t SimRandom::below(uint32_t n)
{
    // Lemire's multiply-and-reject: unbiased and cheap.
    uint64_t m = uint64_t(uint32_t(eng_())) * n;
    uint32_t low = uint32_t(m);
    if (low < n) {
        const uint32_t threshold = uint32_t(-n) % n;
        while (low < threshold) {
            m = uint64_t(uint32_t(eng_())) * n;
            low = uint32_t(m);
        }
    }
    return uint32_t(m >> 32);
}

int SimRandom::range(int lo, int hi)
{
    if (hi <= lo)
        return lo;
    return lo + int(below(uint32_t(hi - lo) + 1));
}

std::vector<LogLine> generateLog(const LogParams &p)
{
    SimRandom rng(p.seed);
    const Date end = p.endDate.valid() ? p.endDate : localToday();
    const int months = std::max(0, p.months);
    const int monthIndex = end.year * 12 + (end.month - 1) - months;
    Date begin{monthIndex / 12, monthIndex % 12 + 1, 1};
    begin.day = std::min(end.day, daysInMonth(begin.year, begin.month));
    // Two-digit years on the wire: never reach back before 2000.
    const int64_t firstDay = std::max(daysFromCivil(begin), daysFromCivil(Date{2000, 1, 1}));
    const int64_t lastDay = std::max(firstDay, daysFromCivil(end));
    const uint32_t dayCount = uint32_t(lastDay - firstDay + 1);

    // At least two records per mode so the unknown-mode one never hides a mode.
    // Up to ten million records (some 300 MB): enough for the long-run transfers.
    const int total = std::clamp(p.targetRecords, 8, 10'000'000);
    const int sessions = std::clamp(total / 40, 4, total);

    std::vector<int> weight(sessions);
    int64_t weightSum = 0;
    for (int &w : weight) {
        w = rng.range(1, 100);
        weightSum += w;
    }
    std::vector<int> length(sessions);
    const int64_t spare = total - sessions;
    int64_t cumulative = 0, given = 0;
    for (int i = 0; i < sessions; ++i) {
        cumulative += weight[i];
        const int64_t upTo = cumulative * spare / weightSum;
        length[i] = 1 + int(upTo - given);
        given = upTo;
    }

    std::vector<int64_t> sessionDay(sessions);
    for (auto &d : sessionDay)
        d = firstDay + rng.below(dayCount);
    std::sort(sessionDay.begin(), sessionDay.end());

    // Every mode appears: the first four sessions take a shuffled "ATRP".
    char modes[4] = {'A', 'T', 'R', 'P'};
    for (int i = 3; i > 0; --i)
        std::swap(modes[i], modes[rng.below(uint32_t(i) + 1)]);

    std::vector<int> candidates;
    for (int i = 0; i < sessions; ++i)
        if (length[i] >= 2)
            candidates.push_back(i);
    const int unknownSession = candidates[rng.below(uint32_t(candidates.size()))];
    const int unknownIndex = int(rng.below(uint32_t(length[unknownSession])));

    std::vector<int> gaps(sessions - 1);
    for (int i = 0; i < sessions - 1; ++i)
        gaps[i] = i;
    const int ffCount = std::clamp(p.ffLines, 0, sessions - 1);
    for (int i = 0; i < ffCount; ++i)
        std::swap(gaps[i], gaps[i + rng.below(uint32_t(gaps.size() - i))]);
    std::vector<bool> ffAfter(sessions, false);
    for (int i = 0; i < ffCount; ++i)
        ffAfter[gaps[i]] = true;

    static const char *const kFrequencies[3] = {"33KHz", "8KHz", "500Hz"};
    std::vector<LogLine> out;
    out.reserve(size_t(total + ffCount));
    int64_t previousEnd = 0;
    for (int s = 0; s < sessions; ++s) {
        const char mode = s < 4 ? modes[s] : modes[rng.below(4)];
        const std::string frequency = mode == 'T' ? kFrequencies[rng.below(3)] : "0";
        int64_t t = sessionDay[s] * 86400 + rng.range(7 * 3600, 17 * 3600);
        if (t < previousEnd + 60)
            t = previousEnd + rng.range(60, 1800);
        int signal = rng.range(5, 25);
        for (int k = 0; k < length[s]; ++k) {
            signal = std::clamp(signal + rng.range(-2, 2), 0, 30);
            const int r = rng.range(0, 99);
            const char *meas = r < 65 ? "0" : r < 85 ? "D" : r < 93 ? "S" : (mode == 'T' ? "C" : "D");
            std::string depth = "0";
            if (meas[0] == 'D' || meas[0] == 'C') {
                if (signal < 4) {
                    depth = "LO";
                } else {
                    const int cm = rng.range(20, 350);
                    depth = std::to_string(cm / 100) + "." + twoDigitText(cm % 100);
                }
            }
            const bool unknown = s == unknownSession && k == unknownIndex;
            const int64_t second = t + k;
            LogLine line;
            line.day = second / 86400;
            line.text = formatDdMmYy(civilFromDays(line.day)) + "," + formatHhMmSs(int(second % 86400)) + ","
                + (unknown ? 'X' : mode) + "," + (unknown ? std::string("0") : frequency) + "," + meas + "," + depth
                + "," + std::to_string(signal) + "\r\n";
            out.push_back(std::move(line));
        }
        previousEnd = t + length[s];
        if (ffAfter[s])
            out.push_back(LogLine{-1, "FFFFFFFFFFFFFFFF\r\n"});
    }
    return out;
}

}  // namespace sim
