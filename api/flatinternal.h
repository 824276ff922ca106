// Library-wide state of the flat interface: start-up and the global engine.
#pragma once

class CInputBlock;
class CMIMEEngine;

// Runs the library's start-up once per process: the default charset and the needs-encoding
// flag from the ANSI code page. Every flat entry point calls it, so the values are in place
// before the first call whatever order the loader runs static initialisers in.
void EnsureLibraryStarted();

// The engine of the flat composition interface (default mode), made on first use and
// destroyed when the library is unloaded. Runs the start-up first.
CMIMEEngine& FlatGlobalEngine();

// Root of the flat interface's tree, null when there is none; for tests that inspect the
// tree the UIDs name.
CInputBlock* FlatRootForTesting();
