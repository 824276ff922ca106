// Character classes and small scanners shared by the header parsing code.
#pragma once

#include "platform/chartable.h"

#include <cstddef>

namespace parsetext
{

// White space of header text: space, TAB, LF, VT, FF and CR, never a byte of 0x80 or above.
inline bool IsWhite(char c)
{
    return platform::IsSpace(c);
}

// The first character at or after p that is not white space (the NUL at the latest).
inline const char* SkipWhite(const char* p)
{
    while (IsWhite(*p))
        ++p;
    return p;
}
inline char* SkipWhite(char* p)
{
    while (IsWhite(*p))
        ++p;
    return p;
}

// The first ASCII character c in text, stepping one character of the ANSI code page at a
// time (a double-byte character is one step); null when there is none.
const char* FindChar(const char* text, char c);
inline char* FindChar(char* text, char c)
{
    return const_cast<char*>(FindChar(static_cast<const char*>(text), c));
}

// Joins the continuation line next onto line (a buffer of size bytes): the line end of
// line is removed (from its last CR, else its last LF) and next is appended whole, its
// leading white space and line end included. Returns false and leaves line as it was when
// the two texts together are longer than size characters, or when the joined text and
// its NUL would not fit in size bytes.
bool JoinContinuation(char* line, const char* next, size_t size);

} // namespace parsetext
