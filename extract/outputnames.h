// Choosing a free name for a decoded file in the work directory.
#pragma once

#include "mimeengine/platform/afx.h"

#include <functional>

class CUnpacker;

// Picks the path under which a file called name (a bare file name, no directory) can be
// stored in the unpacker's work directory without replacing anything: the directory
// joined with name, illegal characters replaced, and " (2)", " (3)", ... put before the
// extension while that path is taken, as the output files of leaf bodies are numbered.
// FALSE when the name cleans to nothing or no free path of at most 259 characters exists.
BOOL PickFreeOutputPath(CUnpacker& unpacker, const char* name, CString& result);

// What claiming a candidate name gave: the name is now the caller's (a file was created
// there, or it was found free), a file has it already, or it is no file's but cannot be had
// (a directory, a link that leads nowhere).
enum class NameClaim
{
    Claimed,
    Taken,
    Refused
};

// Claims path, or when a file has it, path with " (n)" put before its extension for the
// first n from 2 that is not taken. result is the name claimed, or the last one tried: TRUE
// when it was claimed, FALSE when it was refused or the numbered name would not fit in 259
// characters (result is then path). The unpacker remembers each path claimed or found taken
// in its run with the next n to try, so many files of one name neither try the path again
// nor rescan the numbers already used.
BOOL NumberFreePath(CUnpacker& unpacker, const char* path, CString& result,
                    const std::function<NameClaim(const char* candidate)>& claim);
