#include "platform/crt.h"

#include <atomic>
#include <cstdlib>

namespace
{

std::atomic<bool> g_timeFixed{false};
std::atomic<time_t> g_fixedTime{0};
std::atomic<int (*)()> g_randHook{nullptr};

} // namespace

time_t PlatformTime()
{
    if (g_timeFixed.load())
        return g_fixedTime.load();
    return ::time(nullptr);
}

void PlatformSetTimeForTesting(const time_t* pFixed)
{
    if (pFixed != nullptr)
    {
        g_fixedTime.store(*pFixed);
        g_timeFixed.store(true);
    }
    else
    {
        g_timeFixed.store(false);
    }
}

void PlatformSrand(unsigned int seed)
{
    std::srand(seed);
}

int PlatformRand()
{
    int (*hook)() = g_randHook.load();
    return hook != nullptr ? hook() : std::rand();
}

void PlatformSetRandForTesting(int (*pfnRand)())
{
    g_randHook.store(pfnRand);
}
