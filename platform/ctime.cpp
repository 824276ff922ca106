#include "mimeengine/platform/ctime.h"

#include "platform/crt.h"
#include "platform/oscalls.h"

CTime::CTime(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec)
{
    struct tm t = {};
    t.tm_year = nYear - 1900;
    t.tm_mon = nMonth - 1;
    t.tm_mday = nDay;
    t.tm_hour = nHour;
    t.tm_min = nMin;
    t.tm_sec = nSec;
    t.tm_isdst = -1;
    m_time = platform::MakeLocalTime(t);
}

CTime CTime::GetCurrentTime()
{
    return CTime(PlatformTime());
}

void CTime::SetCurrentTimeForTesting(const CTime* pFixed)
{
    if (pFixed != nullptr)
    {
        const std::int64_t t = pFixed->GetTime();
        PlatformSetTimeForTesting(&t);
    }
    else
    {
        PlatformSetTimeForTesting(nullptr);
    }
}

struct tm CTime::Local() const
{
    return platform::LocalTime(m_time);
}

int CTime::GetYear() const
{
    return Local().tm_year + 1900;
}

int CTime::GetMonth() const
{
    return Local().tm_mon + 1;
}

int CTime::GetDay() const
{
    return Local().tm_mday;
}

int CTime::GetHour() const
{
    return Local().tm_hour;
}

int CTime::GetMinute() const
{
    return Local().tm_min;
}

int CTime::GetSecond() const
{
    return Local().tm_sec;
}
