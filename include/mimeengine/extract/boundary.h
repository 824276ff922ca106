// IsBoundaryLine: the delimiter test that tells every body decoder, and the part parser,
// where a body ends.
#pragma once

#include "mimeengine/export.h"

class COutputBlock;

// Results of IsBoundaryLine.
enum _BOUNDARY_RC : unsigned int
{
    BOUNDARY_NONE = 0,
    BOUNDARY_PART = 1,
    BOUNDARY_END = 2,
    BOUNDARY_OUTER_PART = 3,
    BOUNDARY_OUTER_END = 4
};

// Classifies line against the delimiters of the multiparts that enclose block (a
// _BOUNDARY_RC value).
MIMEENGINE_API int IsBoundaryLine(const char* line, COutputBlock* block);
