// Counters of the system calls made by the platform layer.
#include "platform/oscalls.h"

#include <atomic>

namespace platform
{
namespace
{

std::atomic<unsigned long long> g_counts[static_cast<int>(OsCall::Kinds)];

} // namespace

void CountCall(OsCall call)
{
    g_counts[static_cast<int>(call)].fetch_add(1, std::memory_order_relaxed);
}

void CallCounts(unsigned long long (&counts)[static_cast<int>(OsCall::Kinds)])
{
    for (int i = 0; i < static_cast<int>(OsCall::Kinds); ++i)
        counts[i] = g_counts[i].load(std::memory_order_relaxed);
}

} // namespace platform
