// Symbol export for the mimeengine shared library.
#pragma once

#if defined(_WIN32)
#if defined(MIMEENGINE_BUILDING)
#define MIMEENGINE_API __declspec(dllexport)
#else
#define MIMEENGINE_API __declspec(dllimport)
#endif
#else
#define MIMEENGINE_API __attribute__((visibility("default")))
#endif
