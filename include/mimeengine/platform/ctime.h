// CTime: a point in time read as local date and time.
#pragma once

#include "mimeengine/export.h"

#include <cstdint>
#include <ctime>

class MIMEENGINE_API CTime
{
public:
    CTime() : m_time(0) {}
    // Seconds since 1970-01-01 UTC, 64 bits wide on every system, so that every date up to
    // the year 3000 is an ordinary date, on 32-bit Windows too (whose time_t has 32 bits).
    explicit CTime(std::int64_t t) : m_time(t) {}
    // Local date and time; month 1-12, day 1-31.
    CTime(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec);

    // The current time, or the time fixed by SetCurrentTimeForTesting.
    static CTime GetCurrentTime();
    // Fixes "now" for the whole process (also the calendar time of boundaries); null restores the clock.
    static void SetCurrentTimeForTesting(const CTime* pFixed);

    std::int64_t GetTime() const { return m_time; }
    int GetYear() const;
    int GetMonth() const;
    int GetDay() const;
    int GetHour() const;
    int GetMinute() const;
    int GetSecond() const;

private:
    struct tm Local() const;
    std::int64_t m_time;
};
