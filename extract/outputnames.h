// Choosing a free name for a decoded file in the work directory.
#pragma once

#include "mimeengine/platform/afx.h"

class CUnpacker;

// Picks the path under which a file called name (a bare file name, no directory) can be
// stored in the unpacker's work directory without replacing anything: the directory
// joined with name, illegal characters replaced, and " (2)", " (3)", ... put before the
// extension while that path is taken, as the output files of leaf bodies are numbered.
// FALSE when the name cleans to nothing or no free path of at most 259 characters exists.
BOOL PickFreeOutputPath(CUnpacker& unpacker, const char* name, CString& result);

// path itself when nothing is at that name, else path with " (n)" put before its extension
// for the first free n from 2. The next n to try is remembered per path in the unpacker, so
// many files of one name do not rescan the numbers already used. FALSE when the numbered
// name would not fit in 259 characters.
BOOL NumberFreePath(CUnpacker& unpacker, const char* path, CString& result);
