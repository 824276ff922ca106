// Character classes of the C locale as a 256-entry table, safe for any byte value.
#pragma once

namespace platform
{

// White space as isspace in the C locale: space, TAB, LF, VT, FF, CR.
inline bool IsSpace(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

inline char AsciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

inline char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace platform
