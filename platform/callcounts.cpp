// Counters of the system calls made by the platform layer, and the faults a test plants
// among them.
#include "platform/oscalls.h"

#include <atomic>

namespace platform
{
namespace
{

constexpr int kKinds = static_cast<int>(OsCall::Kinds);

std::atomic<unsigned long long> g_counts[kKinds];

// Per kind: calls still to go before the planted fault (0: none planted), and its error.
std::atomic<unsigned long long> g_faultIn[kKinds];
std::atomic<long> g_faultError[kKinds];

} // namespace

long CountCall(OsCall call)
{
    const int kind = static_cast<int>(call);
    g_counts[kind].fetch_add(1, std::memory_order_relaxed);
    // Without a fault planted this is one load; with one, only the call that takes the count
    // from 1 to 0 fails.
    unsigned long long left = g_faultIn[kind].load(std::memory_order_acquire);
    while (left != 0)
    {
        if (g_faultIn[kind].compare_exchange_weak(left, left - 1, std::memory_order_acq_rel))
            return left == 1 ? g_faultError[kind].load(std::memory_order_relaxed) : 0;
    }
    return 0;
}

void CallCounts(unsigned long long (&counts)[kKinds])
{
    for (int i = 0; i < kKinds; ++i)
        counts[i] = g_counts[i].load(std::memory_order_relaxed);
}

void FailCall(OsCall call, unsigned long long n, long error)
{
    const int kind = static_cast<int>(call);
    g_faultError[kind].store(error, std::memory_order_relaxed);
    g_faultIn[kind].store(n, std::memory_order_release);
}

} // namespace platform
