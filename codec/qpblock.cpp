#include "codec/qpblock.h"

#include <cstdint>
#include <cstring>

namespace qpblock
{

namespace
{

// Upper-case hexadecimal digits only, 255 for every other byte.
struct HexTable
{
    unsigned char value[256];
    constexpr HexTable() : value()
    {
        for (int i = 0; i < 256; ++i)
            value[i] = 255;
        for (int i = 0; i < 10; ++i)
            value['0' + i] = static_cast<unsigned char>(i);
        for (int i = 0; i < 6; ++i)
            value['A' + i] = static_cast<unsigned char>(10 + i);
    }
};
constexpr HexTable kHex;

} // namespace

bool DecodeLine(const char* text, size_t n, unsigned char* out, size_t* length)
{
    unsigned char* o = out;
    size_t p = 0;
    size_t last = 0; // just after the last escape
    for (;;)
    {
        // Plain bytes, eight at a time where the word test is exact (little-endian): a word
        // with no NUL and no "=" is copied whole, otherwise up to the first of them.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ && (defined(__GNUC__) || defined(__clang__))
        const std::uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
        const std::uint64_t equals = 0x3D3D3D3D3D3D3D3Dull;
        while (p + 8 <= n)
        {
            std::uint64_t v;
            std::memcpy(&v, text + p, 8);
            const std::uint64_t e = v ^ equals;
            const std::uint64_t special = ((v - ones) & ~v & highs) | ((e - ones) & ~e & highs);
            std::memcpy(o, &v, 8);
            if (special == 0)
            {
                o += 8;
                p += 8;
                continue;
            }
            const size_t k = static_cast<size_t>(__builtin_ctzll(special)) / 8;
            o += k;
            p += k;
            break;
        }
#endif
        while (p < n && text[p] != '=' && text[p] != '\0')
            *o++ = static_cast<unsigned char>(text[p++]);
        if (p == n)
            break;
        if (text[p] == '\0')
            return false;
        // An "=" at p.
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
        if ((high | low) == 255)
            return false;
        *o++ = static_cast<unsigned char>(high * 16 + low);
        p += 3;
        last = p;
    }
    // The rest ends with the line end: a CR already there (a lone CR of the text) is kept
    // and the LF follows; otherwise the line end is written as CR LF.
    if (n == last || text[n - 1] != '\r')
        *o++ = '\r';
    *o++ = '\n';
    *length = static_cast<size_t>(o - out);
    return true;
}

} // namespace qpblock
