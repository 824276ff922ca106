// Calendar time and the pseudo-random generator, with hooks that tests use to fix them.
#pragma once

#include <ctime>

// time(nullptr), or the time fixed by CTime::SetCurrentTimeForTesting.
time_t PlatformTime();
void PlatformSetTimeForTesting(const time_t* pFixed);

// srand/rand of the runtime, with a state per thread, unless a test installed its own
// generator (one for the whole process).
void PlatformSrand(unsigned int seed);
int PlatformRand();
void PlatformSetRandForTesting(int (*pfnRand)());
