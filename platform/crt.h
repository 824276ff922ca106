// Calendar time and the pseudo-random generator, with hooks that tests use to fix them.
#pragma once

#include <cstdint>

// Seconds since 1970-01-01 UTC, in 64 bits on every system (the runtime's time_t is 32 bits
// on 32-bit Windows): the clock, or the time fixed by CTime::SetCurrentTimeForTesting.
std::int64_t PlatformTime();
void PlatformSetTimeForTesting(const std::int64_t* pFixed);

// srand/rand of the runtime, with a state per thread, unless a test installed its own
// generator (one for the whole process).
void PlatformSrand(unsigned int seed);
int PlatformRand();
void PlatformSetRandForTesting(int (*pfnRand)());
