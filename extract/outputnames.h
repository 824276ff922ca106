// Choosing a free name for a decoded file in the work directory.
#pragma once

#include "mimeengine/platform/afx.h"

// Picks the path under which a file called name can be stored in workDirectory without
// replacing anything: the directory joined with name, illegal characters replaced, and
// " (2)", " (3)", ... put before the extension while that path exists. FALSE when the
// name cleans to nothing or no free path of at most 259 characters is found.
BOOL PickFreeOutputPath(const CString& workDirectory, const char* name, CString& result);
