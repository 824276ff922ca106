// Library start-up: the flat interface's global engine, then the default charset from the
// ANSI code page.
//
// A shared library has no reliable order between the static initialisers of its
// translation units, so nothing here is a namespace-scope object with a constructor:
// the engine is a function-local static, the charset is chosen behind a once-flag, and the
// load hook (DllMain on Windows, a constructor function elsewhere) only makes sure both
// exist before the loader hands the library to its caller. At unload the runtime destroys
// the engine with the library's other statics, after the hook has returned.
#include "api/flatinternal.h"
#include "codec/charset.h"
#include "mimeengine/engine/engine.h"
#include "platform/win32.h"

void EnsureLibraryStarted()
{
    // Initialisation of a local static runs exactly once; the value itself is not needed.
    static const bool started = [] {
        SelectDefaultCharset(GetACP(), g_szDefaultCharset);
        return true;
    }();
    (void)started;
}

CMIMEEngine& FlatGlobalEngine()
{
    // Destroyed with the library's other statics when it is unloaded (or at exit), in
    // reverse order of construction. A tree still held by the flat interface then is not
    // freed.
    static CMIMEEngine engine(ENCODE_MODE_MESSAGE);
    EnsureLibraryStarted();
    return engine;
}

namespace
{

// Process attach: the default charset is also read by EncodeBase64String, which does not
// pass through the flat entry points, so start-up must have run before any call at all.
void LibraryLoad()
{
    try
    {
        FlatGlobalEngine();
    }
    catch (...)
    {
        // Nothing may escape a load hook; the entry points retry on their first call.
    }
}

} // namespace

#if defined(_WIN32)
// Only process attach does anything; threads need nothing of the library.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD dwReason, LPVOID)
{
    if (dwReason == DLL_PROCESS_ATTACH)
        LibraryLoad();
    return TRUE;
}
#else
__attribute__((constructor)) void LibraryLoadHook()
{
    LibraryLoad();
}
#endif
