// Character classes of the C locale as a 256-entry table, safe for any byte value.
#pragma once

namespace platform
{

// White space as isspace sees it in the C locale: space, TAB, LF, VT, FF and CR. Bytes of
// 0x80 and above are never white space, whatever the locale, so that lead and trail bytes
// of a multibyte character are not mistaken for it.
struct SpaceTable
{
    bool space[256];
    constexpr SpaceTable() : space()
    {
        space[static_cast<unsigned char>(' ')] = true;
        for (int c = '\t'; c <= '\r'; ++c)
            space[c] = true;
    }
};
inline constexpr SpaceTable kSpace;

inline bool IsSpace(unsigned char c)
{
    return kSpace.space[c];
}
inline bool IsSpace(char c)
{
    return kSpace.space[static_cast<unsigned char>(c)];
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
