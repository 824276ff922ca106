// Where the file name and the extension of a path begin, found without copying the
// path into fixed-size parts (so nothing is cut, however long the directory).
#pragma once

#include <cstddef>

struct PathParts
{
    size_t nameStart; // first character after the drive ("C:") and the last "/" or "\\"
    size_t extStart;  // the last "." at or after nameStart, or the length of the path
    size_t length;    // length of the path
};

// Steps by whole characters of the ANSI code page, so a double-byte character whose
// second byte is "\\" is not taken for a separator; every "/" byte is one.
PathParts SplitPathParts(const char* path);
