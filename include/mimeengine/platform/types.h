// Basic framework types: BOOL, UINT and friends.
#pragma once

typedef int BOOL;
typedef unsigned int UINT;
typedef unsigned char BYTE;
typedef long long LONGLONG;
typedef unsigned long long ULONGLONG;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
