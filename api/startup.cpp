// Library start-up: default charset from the ANSI code page, and the flat interface's
// global engine.
//
// A shared library has no reliable order between the static initialisers of its
// translation units, so nothing here is a namespace-scope object with a constructor:
// the start-up runs behind a once-flag, the engine is a function-local static, and a load
// hook only makes sure both exist before the loader hands the library to its caller.
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
    EnsureLibraryStarted();
    // Destroyed with the library's other statics when it is unloaded (or at exit), in
    // reverse order of construction. A tree still held by the flat interface then is not
    // freed.
    static CMIMEEngine engine(ENCODE_MODE_MESSAGE);
    return engine;
}

namespace
{

// Process attach: the default charset is also read by EncodeBase64String, which does not
// pass through the flat entry points, so start-up must have run before any call at all.
__attribute__((constructor)) void LibraryLoad()
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
