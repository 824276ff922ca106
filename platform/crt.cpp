#include "platform/crt.h"

#include "platform/oscalls.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>

namespace
{

std::atomic<bool> g_timeFixed{false};
std::atomic<std::int64_t> g_fixedTime{0};
std::atomic<int (*)()> g_randHook{nullptr};

// The generator's state belongs to the thread, so that engines packing on different
// threads draw the same boundaries as each would alone. glibc's rand() is random() over a
// 128-byte state shared by the process; the same algorithm over a state of the thread's
// own gives the same numbers for the same seed. The Windows runtimes keep the state of
// rand() per thread already. Elsewhere the process-wide rand() is used under a lock.
#if defined(__GLIBC__)
struct RandomState
{
    char state[128] = {};
    random_data data = {};
    bool seeded = false;
};
thread_local RandomState t_random;

void SeedThread(unsigned int seed)
{
    t_random.data = random_data{};
    initstate_r(seed, t_random.state, sizeof t_random.state, &t_random.data);
    t_random.seeded = true;
}

int DrawThread()
{
    // Unseeded, rand() behaves as after srand(1).
    if (!t_random.seeded)
        SeedThread(1);
    int32_t value = 0;
    random_r(&t_random.data, &value);
    return static_cast<int>(value);
}
#elif defined(_WIN32)
void SeedThread(unsigned int seed)
{
    std::srand(seed);
}

int DrawThread()
{
    return std::rand();
}
#else
std::mutex g_randMutex;

void SeedThread(unsigned int seed)
{
    std::lock_guard<std::mutex> lock(g_randMutex);
    std::srand(seed);
}

int DrawThread()
{
    std::lock_guard<std::mutex> lock(g_randMutex);
    return std::rand();
}
#endif

} // namespace

std::int64_t PlatformTime()
{
    if (g_timeFixed.load())
        return g_fixedTime.load();
    return platform::CurrentTime();
}

void PlatformSetTimeForTesting(const std::int64_t* pFixed)
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
    SeedThread(seed);
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
    return DrawThread() & 0x7FFF;
}

void PlatformSetRandForTesting(int (*pfnRand)())
{
    g_randHook.store(pfnRand);
}
