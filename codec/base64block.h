// The library's one Base64 codec: the alphabet, the decoding of one group of four
// characters, and whole blocks for the inner loops of the body decoder and of the
// composer's encoder, with SSE4.1 and AVX2 versions (and AVX-512 VBMI for whole encoded
// lines) chosen once at run time on x86 and the portable loop everywhere else. Every
// version gives the same bytes.
#pragma once

#include <cstddef>

namespace base64block
{

// The alphabet, and the value of every byte in it (kNotInAlphabet for every other byte).
inline constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr unsigned char kNotInAlphabet = 0xFF;
struct DecodeTable
{
    unsigned char value[256];
    constexpr DecodeTable() : value()
    {
        for (int i = 0; i < 256; ++i)
            value[i] = kNotInAlphabet;
        for (int i = 0; i < 64; ++i)
            value[static_cast<unsigned char>(kAlphabet[i])] = static_cast<unsigned char>(i);
    }
};
inline constexpr DecodeTable kDecode;

// Decodes the four characters at s to three bytes at out; false, with nothing written,
// when one of them is not in the alphabet ("=" included).
inline bool DecodeWholeGroup(const unsigned char* s, unsigned char* out)
{
    const unsigned a = kDecode.value[s[0]], b = kDecode.value[s[1]];
    const unsigned c = kDecode.value[s[2]], d = kDecode.value[s[3]];
    if ((a | b | c | d) & 0x80)
        return false;
    const unsigned v = (a << 18) | (b << 12) | (c << 6) | d;
    out[0] = static_cast<unsigned char>(v >> 16);
    out[1] = static_cast<unsigned char>(v >> 8);
    out[2] = static_cast<unsigned char>(v);
    return true;
}

// Decodes the four characters at four to out: 3 bytes when all are in the alphabet,
// otherwise the bytes before the first that is not ("=" included): none when that is the
// first or second, one for the third, two for the fourth.
inline int DecodeGroup(const char* four, unsigned char* out)
{
    const unsigned char* s = reinterpret_cast<const unsigned char*>(four);
    if (DecodeWholeGroup(s, out))
        return 3;
    const unsigned a = kDecode.value[s[0]], b = kDecode.value[s[1]], c = kDecode.value[s[2]];
    if ((a | b) & 0x80)
        return 0;
    out[0] = static_cast<unsigned char>((a << 2) | (b >> 4));
    if (c & 0x80)
        return 1;
    out[1] = static_cast<unsigned char>((b << 4) | (c >> 2));
    return 2;
}

// Copies the characters of text that a decoder reads, the alphabet and "=", to work and
// returns their number, at most max. "(" opens a comment that the next ")" closes, and
// both are dropped with it; comments do not nest, and inComment carries the state from
// one text to the next.
size_t CollectSignificant(const char* text, bool& inComment, char* work, size_t max);

// In order: each level runs the versions of those before it. Avx512Vbmi has versions of its
// own for EncodeLines54, Decode and DecodeRun; elsewhere it runs the AVX2 ones.
enum class Level
{
    Scalar,
    Sse41,
    Avx2,
    Avx512Vbmi
};

// The best version this processor runs.
Level Best();

// Decodes whole four-character groups of in[0..n) while every character is in the
// alphabet ("=" is not): returns the number of characters used, a multiple of 4, and
// writes three bytes per group to out. out must hold n / 4 * 3 + Slack bytes.
constexpr size_t kDecodeSlack = 8;
size_t Decode(const char* in, size_t n, unsigned char* out, Level level = Best());

// Decodes whole lines of a buffered run text[0..n) (text[n - 1] a LF) as the body decoder
// decodes a line in place while no group or comment is open: LF ends a line, and in text
// mode a CR right before it belongs to the line end. A line decodes here when it is empty,
// or when it holds whole groups of the alphabet only ("=" is not), at most maxLine
// characters, and does not begin with a byte whose lead[] entry is TRUE (it may be a
// delimiter). The walk stops before the first other line, or before a line whose bytes
// and kDecodeSlack more would not fit in out's room bytes. *length gets the bytes written;
// returns the raw bytes of the lines decoded, their line ends included. Every version
// stops at the same line and gives the same bytes.
size_t DecodeRun(const char* text, size_t n, bool textMode, const bool* lead, size_t maxLine, unsigned char* out,
                 size_t room, size_t* length, Level level = Best());

// Encodes in[0..n) as base64 with "=" padding: (n + 2) / 3 * 4 characters to out.
size_t Encode(const unsigned char* in, size_t n, char* out, Level level = Best());

// Decodes groups of four uuencoded characters (each worth (c - 32) & 63) to three bytes
// each. Writes at most 3 * groups + 1 bytes. FALSE when a CR, LF, "~" or NUL is among the
// characters: a line decoder that treats those apart has to take them its own way, and a
// walk over buffered lines has met a line shorter than its length character says.
bool DecodeUUGroups(const char* in, size_t groups, unsigned char* out, Level level = Best());

// Encodes lines of 54 bytes each to 72 characters and CR LF each, 74 characters a line.
// Reads 10 bytes past the last line's 54 and may write 6 past its 74 characters: for every
// line of a block but the last few.
void EncodeLines54(const unsigned char* in, size_t lines, char* out, Level level = Best());

} // namespace base64block
