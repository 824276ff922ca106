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
    if (hook != nullptr)
        return hook();
    // The draw runs from 0 to 32767 as it does in the runtime that boundaries and their
    // five-digit random part were made for; a C library with a wider RAND_MAX (glibc's is
    // 2^31 - 1) gives its low 15 bits, which are as evenly spread as the whole.
    static_assert(RAND_MAX >= 0x7FFF, "rand() must give at least 15 bits");
    return std::rand() & 0x7FFF;
}

void PlatformSetRandForTesting(int (*pfnRand)())
{
    g_randHook.store(pfnRand);
}
