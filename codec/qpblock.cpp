#include "codec/qpblock.h"

#include <cstdint>
#include <cstring>

namespace qpblock
{

bool DecodeLine(const char* text, size_t n, unsigned char* out, size_t* length)
{
    unsigned char* o = out;
    size_t p = 0;
    size_t last = 0; // just after the last escape
    for (;;)
    {
        // Plain bytes up to the next NUL or "=", eight at a time where the word test is exact
        // (little-endian): a word with neither is copied whole, otherwise up to the first.
        size_t k = p;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ && (defined(__GNUC__) || defined(__clang__))
        const std::uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
        for (; k + 8 <= n; k += 8)
        {
            std::uint64_t v;
            std::memcpy(&v, text + k, 8);
            const std::uint64_t e = v ^ 0x3D3D3D3D3D3D3D3Dull;
            const std::uint64_t special = ((v - ones) & ~v & highs) | ((e - ones) & ~e & highs);
            std::memcpy(o + (k - p), &v, 8);
            if (special != 0)
            {
                k += static_cast<size_t>(__builtin_ctzll(special)) / 8;
                goto found;
            }
        }
#endif
        for (; k < n && text[k] != '=' && text[k] != '\0'; ++k)
            o[k - p] = static_cast<unsigned char>(text[k]);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ && (defined(__GNUC__) || defined(__clang__))
    found:
#endif
        o += k - p;
        p = k;
        if (p == n)
            break;
        // Escapes, one after another as in encoded multi-byte characters.
        while (text[p] == '=')
        {
            if (p + 1 == n)
            {
                // Soft line break: the line end is not data.
                *length = static_cast<size_t>(o - out);
                return true;
            }
            if (p + 2 == n)
                return false;
            const unsigned char high = kHex.value[static_cast<unsigned char>(text[p + 1])];
            const unsigned char low = kHex.value[static_cast<unsigned char>(text[p + 2])];
            if ((high | low) == kNoDigit)
                return false;
            *o++ = static_cast<unsigned char>(high * 16 + low);
            p += 3;
            last = p;
            if (p == n)
                break;
        }
        if (p == n)
            break;
        if (text[p] == '\0')
            return false;
    }
    // The rest ends with the line end: after a CR of the text only the LF follows;
    // otherwise the line end is written as CR LF.
    if (n == last || text[n - 1] != '\r')
        *o++ = '\r';
    *o++ = '\n';
    *length = static_cast<size_t>(o - out);
    return true;
}

} // namespace qpblock
