// Symbol export for the mimeengine shared library. On Windows its clients see dllimport,
// the library itself dllexport, and programs that link the library's static archive (the
// tests) MIMEENGINE_STATIC: no decoration.
#pragma once

#if defined(_WIN32)
#if defined(MIMEENGINE_STATIC)
#define MIMEENGINE_API
#elif defined(MIMEENGINE_BUILDING)
#define MIMEENGINE_API __declspec(dllexport)
#else
#define MIMEENGINE_API __declspec(dllimport)
#endif
#else
#define MIMEENGINE_API __attribute__((visibility("default")))
#endif
