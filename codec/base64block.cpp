// Base64 over whole blocks. The vector versions follow the well-known nibble-table
// approach: the high and low nibble of every character index two small tables whose AND is
// zero exactly for the alphabet, a third table gives the offset from character to value,
// and multiply-add steps pack four 6-bit values into three bytes (and back for encoding).
#include "codec/base64block.h"

#include <cstdint>
#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
#define MIMEENGINE_BASE64_X86 1
#include <immintrin.h>
#endif

// 32-bit callers may keep the stack aligned to 4 bytes only; the vector entry points align
// their own frame there.
#if defined(__i386__)
#define MIMEENGINE_BASE64_ALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define MIMEENGINE_BASE64_ALIGN_STACK
#endif

namespace base64block
{

namespace
{

using DecodeFunction = size_t (*)(const char* in, size_t n, unsigned char* out);

// Out of line: the vector versions call it only for what their steps leave over, and
// inlined into them it would widen their hot paths.
[[gnu::noinline]] size_t DecodeScalar(const char* in, size_t n, unsigned char* out)
{
    const unsigned char* s = reinterpret_cast<const unsigned char*>(in);
    size_t i = 0;
    for (; i + 4 <= n && DecodeWholeGroup(s + i, out); i += 4, out += 3)
    {
    }
    return i;
}

size_t EncodeScalar(const unsigned char* in, size_t n, char* out)
{
    char* o = out;
    size_t i = 0;
    for (; i + 3 <= n; i += 3)
    {
        const unsigned v = (unsigned{in[i]} << 16) | (unsigned{in[i + 1]} << 8) | in[i + 2];
        *o++ = kAlphabet[(v >> 18) & 0x3F];
        *o++ = kAlphabet[(v >> 12) & 0x3F];
        *o++ = kAlphabet[(v >> 6) & 0x3F];
        *o++ = kAlphabet[v & 0x3F];
    }
    const size_t rest = n - i;
    if (rest > 0)
    {
        const unsigned v = (unsigned{in[i]} << 16) | (rest == 2 ? unsigned{in[i + 1]} << 8 : 0u);
        *o++ = kAlphabet[(v >> 18) & 0x3F];
        *o++ = kAlphabet[(v >> 12) & 0x3F];
        *o++ = rest == 2 ? kAlphabet[(v >> 6) & 0x3F] : '=';
        *o++ = '=';
    }
    return static_cast<size_t>(o - out);
}

// The walk of DecodeRun over the lines of a run, each line's groups decoded by decode.
// Lines of a body are mostly of one length, so the line end is first looked for where the
// last line's length puts it; a line that decodes whole there has no LF before it. When the
// guess fails the line is looked at again from a real search for its end.
template <DecodeFunction decode>
inline size_t Run(const char* text, size_t n, bool textMode, const bool* lead, size_t maxLine, unsigned char* out,
                  size_t room, size_t* length)
{
    size_t used = 0;
    size_t written = 0;
    size_t guess = 0; // raw length of the last line, its LF not included
    bool guessed = false;
    while (used < n)
    {
        const char* p = text + used;
        const size_t available = n - used;
        size_t end = guess;
        const bool fromGuess = guessed && guess < available && p[guess] == '\n';
        if (!fromGuess)
        {
            const void* lf = std::memchr(p, '\n', available);
            if (lf == nullptr)
                break;
            end = static_cast<size_t>(static_cast<const char*>(lf) - p);
        }
        const size_t characters = textMode && end > 0 && p[end - 1] == '\r' ? end - 1 : end;
        const size_t bytes = characters / 4 * 3;
        if (characters == 0 ||
            (characters % 4 == 0 && characters <= maxLine && !lead[static_cast<unsigned char>(p[0])] &&
             bytes + kDecodeSlack <= room - written && decode(p, characters, out + written) == characters))
        {
            written += bytes;
            used += end + 1;
            guess = end;
            guessed = true;
            continue;
        }
        if (!fromGuess)
            break;
        guessed = false;
    }
    *length = written;
    return used;
}

#ifdef MIMEENGINE_BASE64_X86

// 16 characters to 12 bytes; FALSE (nothing stored) when one is outside the alphabet.
__attribute__((target("sse4.1"))) inline bool Decode16(const unsigned char* s, unsigned char* o)
{
    const __m128i lutLo =
        _mm_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
    const __m128i lutHi =
        _mm_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
    const __m128i lutRoll = _mm_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m128i mask2F = _mm_set1_epi8(0x2F);
    __m128i str = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i hiNibbles = _mm_and_si128(_mm_srli_epi32(str, 4), mask2F);
    const __m128i loNibbles = _mm_and_si128(str, mask2F);
    const __m128i hi = _mm_shuffle_epi8(lutHi, hiNibbles);
    const __m128i lo = _mm_shuffle_epi8(lutLo, loNibbles);
    if (!_mm_testz_si128(lo, hi))
        return false;
    const __m128i eq2F = _mm_cmpeq_epi8(str, mask2F);
    const __m128i roll = _mm_shuffle_epi8(lutRoll, _mm_add_epi8(eq2F, hiNibbles));
    str = _mm_add_epi8(str, roll);
    const __m128i merged = _mm_maddubs_epi16(str, _mm_set1_epi32(0x01400140));
    __m128i packed = _mm_madd_epi16(merged, _mm_set1_epi32(0x00011000));
    packed = _mm_shuffle_epi8(packed, _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), packed);
    return true;
}

// The last characters after the vector steps stopped at i, out being where their bytes go:
// when at least 16 characters and whole groups make up the text, one more step over its
// last 16 decodes them (again for the groups already done, to the same bytes); otherwise,
// or when a character there is outside the alphabet, the portable loop does.
__attribute__((target("sse4.1"))) inline size_t DecodeTail(const char* in, size_t n, size_t i, unsigned char* out)
{
    if (i < n && n >= 16 && n % 4 == 0 && i % 4 == 0 && n - i < 16 &&
        Decode16(reinterpret_cast<const unsigned char*>(in + n - 16), out - (i - (n - 16)) / 4 * 3))
        return n - i;
    return DecodeScalar(in + i, n - i, out);
}

__attribute__((target("sse4.1"))) size_t DecodeSse41(const char* in, size_t n, unsigned char* out)
{
    const unsigned char* s = reinterpret_cast<const unsigned char*>(in);
    size_t i = 0;
    for (; i + 16 <= n; i += 16, out += 12)
        if (!Decode16(s + i, out))
            break;
    return i + DecodeTail(in, n, i, out);
}

__attribute__((target("avx2"))) size_t DecodeAvx2(const char* in, size_t n, unsigned char* out)
{
    const __m256i lutLo = _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B,
                                           0x1B, 0x1B, 0x1A, 0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                                           0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
    const __m256i lutHi = _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10,
                                           0x10, 0x10, 0x10, 0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10,
                                           0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
    const __m256i lutRoll = _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 19, 4,
                                             -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i mask2F = _mm256_set1_epi8(0x2F);
    const __m256i order = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1, 0, 6, 5, 4, 10,
                                           9, 8, 14, 13, 12, -1, -1, -1, -1);
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
    const unsigned char* s = reinterpret_cast<const unsigned char*>(in);
    size_t i = 0;
    for (; i + 32 <= n; i += 32, out += 24)
    {
        __m256i str = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
        const __m256i hiNibbles = _mm256_and_si256(_mm256_srli_epi32(str, 4), mask2F);
        const __m256i loNibbles = _mm256_and_si256(str, mask2F);
        const __m256i hi = _mm256_shuffle_epi8(lutHi, hiNibbles);
        const __m256i lo = _mm256_shuffle_epi8(lutLo, loNibbles);
        if (!_mm256_testz_si256(lo, hi))
            break;
        const __m256i eq2F = _mm256_cmpeq_epi8(str, mask2F);
        const __m256i roll = _mm256_shuffle_epi8(lutRoll, _mm256_add_epi8(eq2F, hiNibbles));
        str = _mm256_add_epi8(str, roll);
        const __m256i merged = _mm256_maddubs_epi16(str, _mm256_set1_epi32(0x01400140));
        __m256i packed = _mm256_madd_epi16(merged, _mm256_set1_epi32(0x00011000));
        packed = _mm256_shuffle_epi8(packed, order);
        packed = _mm256_permutevar8x32_epi32(packed, lanes);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), packed);
    }
    if (i + 16 <= n && Decode16(s + i, out))
    {
        i += 16;
        out += 12;
    }
    return i + DecodeTail(in, n, i, out);
}

// The value of every character below 0x80 as a table of 128 bytes in two halves, 0x80 for
// those outside the alphabet ("=" among them).
struct DecodeHalves
{
    alignas(64) unsigned char value[128];
    constexpr DecodeHalves() : value()
    {
        for (int c = 0; c < 128; ++c)
            value[c] = 0x80;
        for (int v = 0; v < 64; ++v)
            value[static_cast<unsigned char>(kAlphabet[v])] = static_cast<unsigned char>(v);
    }
};
inline constexpr DecodeHalves kDecodeHalves;

// The characters of s in lanes (whole groups) to their bytes, stored in the lanes of stores;
// FALSE, with nothing stored, when one is outside the alphabet. One permute over the two
// halves of the table maps every character (its low seven bits) to its value, and a
// character from 0x80 on, or one the table marks, leaves bit 7 set.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline bool Decode64(const unsigned char* s, __mmask64 lanes,
                                                                            unsigned char* o, __mmask64 stores)
{
    const __m512i low = _mm512_load_si512(kDecodeHalves.value);
    const __m512i high = _mm512_load_si512(kDecodeHalves.value + 64);
    const __m512i str = _mm512_maskz_loadu_epi8(lanes, s);
    const __m512i values = _mm512_permutex2var_epi8(low, str, high);
    if (_mm512_mask_test_epi8_mask(lanes, _mm512_or_si512(values, str), _mm512_set1_epi8(static_cast<char>(0x80))) != 0)
        return false;
    const __m512i merged = _mm512_maddubs_epi16(values, _mm512_set1_epi32(0x01400140));
    const __m512i packed = _mm512_madd_epi16(merged, _mm512_set1_epi32(0x00011000));
    // Each group's three bytes lie in its 32 bits, highest first from byte 2.
    const __m512i order =
        _mm512_setr_epi32(0x06000102, 0x090a0405, 0x0c0d0e08, 0x16101112, 0x191a1415, 0x1c1d1e18, 0x26202122,
                          0x292a2425, 0x2c2d2e28, 0x36303132, 0x393a3435, 0x3c3d3e38, 0, 0, 0, 0);
    _mm512_mask_storeu_epi8(o, stores, _mm512_maskz_permutexvar_epi8(~__mmask64{0}, order, packed));
    return true;
}

// DecodeAvx2 with 64 characters a step, and the last whole groups of a line in one more
// step; the AVX2 walk takes over where a character is outside the alphabet or a group is cut.
__attribute__((target("avx2,avx512f,avx512bw,avx512vbmi"))) size_t DecodeVbmi(const char* in, size_t n,
                                                                              unsigned char* out)
{
    constexpr __mmask64 kBytes = (__mmask64{1} << 48) - 1;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(in);
    size_t i = 0;
    for (; i + 64 <= n; i += 64, out += 48)
        if (!Decode64(s + i, ~__mmask64{0}, out, kBytes))
            return i + DecodeAvx2(in + i, n - i, out);
    const size_t rest = n - i;
    if (rest == 0)
        return n;
    if (rest % 4 == 0 && Decode64(s + i, (__mmask64{1} << rest) - 1, out, (__mmask64{1} << (rest / 4 * 3)) - 1))
        return n;
    return i + DecodeAvx2(in + i, rest, out);
}

// 12 bytes (of 16 loaded) to 16 characters.
__attribute__((target("sse4.1"))) inline __m128i Encode12(__m128i in)
{
    in = _mm_shuffle_epi8(in, _mm_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1));
    const __m128i t0 = _mm_and_si128(in, _mm_set1_epi32(0x0FC0FC00));
    const __m128i t1 = _mm_mulhi_epu16(t0, _mm_set1_epi32(0x04000040));
    const __m128i t2 = _mm_and_si128(in, _mm_set1_epi32(0x003F03F0));
    const __m128i t3 = _mm_mullo_epi16(t2, _mm_set1_epi32(0x01000010));
    const __m128i values = _mm_or_si128(t1, t3);
    const __m128i lut = _mm_setr_epi8(65, 71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 0, 0);
    __m128i indices = _mm_subs_epu8(values, _mm_set1_epi8(51));
    const __m128i isUpper = _mm_cmpgt_epi8(values, _mm_set1_epi8(25));
    indices = _mm_sub_epi8(indices, isUpper);
    return _mm_add_epi8(values, _mm_shuffle_epi8(lut, indices));
}

__attribute__((target("sse4.1"))) size_t EncodeSse41(const unsigned char* in, size_t n, char* out)
{
    size_t i = 0;
    char* o = out;
    // Each step loads 16 bytes and uses 12.
    for (; i + 16 <= n; i += 12, o += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o),
                         Encode12(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i))));
    return static_cast<size_t>(o - out) + EncodeScalar(in + i, n - i, o);
}

// 24 bytes (of 28 loaded) to 32 characters.
__attribute__((target("avx2"))) inline void Encode24(const unsigned char* in, char* out)
{
    const __m256i order = _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10, 1, 0, 2, 1, 4, 3, 5, 4, 7,
                                           6, 8, 7, 10, 9, 11, 10);
    const __m256i lut = _mm256_setr_epi8(65, 71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 0, 0, 65, 71, -4, -4,
                                         -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 0, 0);
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 12));
    __m256i v = _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1), order);
    const __m256i t0 = _mm256_and_si256(v, _mm256_set1_epi32(0x0FC0FC00));
    const __m256i t1 = _mm256_mulhi_epu16(t0, _mm256_set1_epi32(0x04000040));
    const __m256i t2 = _mm256_and_si256(v, _mm256_set1_epi32(0x003F03F0));
    const __m256i t3 = _mm256_mullo_epi16(t2, _mm256_set1_epi32(0x01000010));
    const __m256i values = _mm256_or_si256(t1, t3);
    __m256i indices = _mm256_subs_epu8(values, _mm256_set1_epi8(51));
    indices = _mm256_sub_epi8(indices, _mm256_cmpgt_epi8(values, _mm256_set1_epi8(25)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_add_epi8(values, _mm256_shuffle_epi8(lut, indices)));
}

__attribute__((target("avx2"))) size_t EncodeAvx2(const unsigned char* in, size_t n, char* out)
{
    size_t i = 0;
    char* o = out;
    for (; i + 28 <= n; i += 24, o += 32)
        Encode24(in + i, o);
    return static_cast<size_t>(o - out) + EncodeSse41(in + i, n - i, o);
}

// Lines of 54 bytes to 72 characters and CR LF each; see EncodeLines54.
__attribute__((target("sse4.1"))) void EncodeLines54Sse41(const unsigned char* in, size_t lines, char* out)
{
    for (size_t line = 0; line < lines; ++line, in += 54, out += 74)
    {
        for (size_t i = 0; i <= 48; i += 12)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i / 3 * 4),
                             Encode12(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i))));
        out[72] = '\r';
        out[73] = '\n';
    }
}

__attribute__((target("avx2"))) void EncodeLines54Avx2(const unsigned char* in, size_t lines, char* out)
{
    for (size_t line = 0; line < lines; ++line, in += 54, out += 74)
    {
        Encode24(in, out);
        Encode24(in + 24, out + 32);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 64),
                         Encode12(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 48))));
        out[72] = '\r';
        out[73] = '\n';
    }
}

// Lines of 54 bytes through byte permutes (AVX-512 VBMI): each group of three bytes is
// spread over four byte lanes, a multishift takes its four 6-bit values out, and a permute
// of the alphabet turns them into characters. One 64-byte load covers the line and the ten
// bytes after it: groups 0 to 15 give the first 64 characters, groups 16 and 17 the last
// eight.
MIMEENGINE_BASE64_ALIGN_STACK __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi"))) void EncodeLines54Vbmi(
    const unsigned char* in, size_t lines, char* out)
{
    const __m512i spread = _mm512_setr_epi32(0x01020001, 0x04050304, 0x07080607, 0x0a0b090a, 0x0d0e0c0d, 0x10110f10,
                                             0x13141213, 0x16171516, 0x191a1819, 0x1c1d1b1c, 0x1f201e1f, 0x22232122,
                                             0x25262425, 0x28292728, 0x2b2c2a2b, 0x2e2f2d2e);
    const __m512i spreadLast = _mm512_setr_epi32(0x31323031, 0x34353334, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m512i shifts = _mm512_set1_epi64(0x3036242a1016040aLL);
    const __m512i alphabet = _mm512_loadu_si512(kAlphabet);
    // The mask forms: GCC 12 warns of the undefined source of the unmasked ones.
    constexpr __mmask64 all = ~__mmask64{0};
    for (size_t line = 0; line < lines; ++line, in += 54, out += 74)
    {
        const __m512i bytes = _mm512_loadu_si512(in);
        const __m512i first = _mm512_maskz_permutexvar_epi8(all, spread, bytes);
        const __m512i last = _mm512_maskz_permutexvar_epi8(all, spreadLast, bytes);
        _mm512_storeu_si512(
            out, _mm512_maskz_permutexvar_epi8(all, _mm512_maskz_multishift_epi64_epi8(all, shifts, first), alphabet));
        const __m512i tail =
            _mm512_maskz_permutexvar_epi8(all, _mm512_maskz_multishift_epi64_epi8(all, shifts, last), alphabet);
        _mm512_mask_storeu_epi8(out + 64, 0xFF, tail);
        out[72] = '\r';
        out[73] = '\n';
    }
}

// Four uuencoded groups at in to twelve bytes, in the low twelve of the result; *specials
// gathers the CRs, LFs, "~"s and NULs among them: the table holds each of them at the place of
// its low four bits and 0x80, which no byte below 0x80 equals, elsewhere, and a shuffle
// gives every byte from 0x80 up the value 0, which it does not equal either.
__attribute__((target("sse4.1"))) inline __m128i DecodeUU4(const char* in, __m128i* specials)
{
    const __m128i table =
        _mm_setr_epi8(0, -128, -128, -128, -128, -128, -128, -128, -128, -128, '\n', -128, -128, '\r', '~', -128);
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    *specials = _mm_or_si128(*specials, _mm_cmpeq_epi8(_mm_shuffle_epi8(table, v), v));
    v = _mm_and_si128(_mm_sub_epi8(v, _mm_set1_epi8(32)), _mm_set1_epi8(63));
    const __m128i merged = _mm_maddubs_epi16(v, _mm_set1_epi32(0x01400140));
    const __m128i packed = _mm_madd_epi16(merged, _mm_set1_epi32(0x00011000));
    return _mm_shuffle_epi8(packed, _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
}

// The groups it decodes, all or none; *plain is FALSE when a CR, LF, "~" or NUL was among them.
__attribute__((target("sse4.1"))) size_t DecodeUUSse41(const char* in, size_t groups, unsigned char* out, bool* plain)
{
    __m128i specials = _mm_setzero_si128();
    // Four groups a step, while a fifth follows to take the four bytes stored beyond them.
    size_t g = 0;
    for (; g + 5 <= groups; g += 4)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * g), DecodeUU4(in + 4 * g, &specials));
    // The last one to four groups: a step over the last four again, which stores its twelve
    // bytes alone (those of groups already done come out the same).
    if (g < groups && groups >= 4)
    {
        const __m128i last = DecodeUU4(in + 4 * (groups - 4), &specials);
        unsigned char* o = out + 3 * (groups - 4);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(o), last);
        const int high = _mm_extract_epi32(last, 2);
        std::memcpy(o + 8, &high, 4);
        g = groups;
    }
    *plain = _mm_testz_si128(specials, specials) != 0;
    return g;
}

MIMEENGINE_BASE64_ALIGN_STACK size_t RunSse41(const char* text, size_t n, bool textMode, const bool* lead,
                                              size_t maxLine, unsigned char* out, size_t room, size_t* length)
{
    return Run<DecodeSse41>(text, n, textMode, lead, maxLine, out, room, length);
}

MIMEENGINE_BASE64_ALIGN_STACK size_t RunAvx2(const char* text, size_t n, bool textMode, const bool* lead,
                                             size_t maxLine, unsigned char* out, size_t room, size_t* length)
{
    return Run<DecodeAvx2>(text, n, textMode, lead, maxLine, out, room, length);
}

MIMEENGINE_BASE64_ALIGN_STACK size_t RunVbmi(const char* text, size_t n, bool textMode, const bool* lead,
                                             size_t maxLine, unsigned char* out, size_t room, size_t* length)
{
    return Run<DecodeVbmi>(text, n, textMode, lead, maxLine, out, room, length);
}

Level Detect()
{
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx2"))
        return Level::Avx512Vbmi;
    if (__builtin_cpu_supports("avx2"))
        return Level::Avx2;
    if (__builtin_cpu_supports("sse4.1"))
        return Level::Sse41;
    return Level::Scalar;
}

#else

Level Detect()
{
    return Level::Scalar;
}

#endif

} // namespace

size_t CollectSignificant(const char* text, bool& inComment, char* work, size_t max)
{
    size_t n = 0;
    bool comment = inComment;
    for (const char* p = text; *p != '\0' && n < max; ++p)
    {
        const char c = *p;
        if (comment)
            comment = c != ')';
        else if (c == '(')
            comment = true;
        else if (c == '=' || kDecode.value[static_cast<unsigned char>(c)] != kNotInAlphabet)
            work[n++] = c;
    }
    inComment = comment;
    return n;
}

Level Best()
{
    static const Level best = Detect();
    return best;
}

size_t Decode(const char* in, size_t n, unsigned char* out, Level level)
{
#ifdef MIMEENGINE_BASE64_X86
    if (level == Level::Avx512Vbmi && Best() == Level::Avx512Vbmi)
        return DecodeVbmi(in, n, out);
    if (level >= Level::Avx2 && Best() >= Level::Avx2)
        return DecodeAvx2(in, n, out);
    if (level != Level::Scalar && Best() != Level::Scalar)
        return DecodeSse41(in, n, out);
#else
    (void)level;
#endif
    return DecodeScalar(in, n, out);
}

size_t DecodeRun(const char* text, size_t n, bool textMode, const bool* lead, size_t maxLine, unsigned char* out,
                 size_t room, size_t* length, Level level)
{
#ifdef MIMEENGINE_BASE64_X86
    if (level == Level::Avx512Vbmi && Best() == Level::Avx512Vbmi)
        return RunVbmi(text, n, textMode, lead, maxLine, out, room, length);
    if (level >= Level::Avx2 && Best() >= Level::Avx2)
        return RunAvx2(text, n, textMode, lead, maxLine, out, room, length);
    if (level != Level::Scalar && Best() != Level::Scalar)
        return RunSse41(text, n, textMode, lead, maxLine, out, room, length);
#else
    (void)level;
#endif
    return Run<DecodeScalar>(text, n, textMode, lead, maxLine, out, room, length);
}

size_t Encode(const unsigned char* in, size_t n, char* out, Level level)
{
#ifdef MIMEENGINE_BASE64_X86
    if (level >= Level::Avx2 && Best() >= Level::Avx2)
        return EncodeAvx2(in, n, out);
    if (level != Level::Scalar && Best() != Level::Scalar)
        return EncodeSse41(in, n, out);
#else
    (void)level;
#endif
    return EncodeScalar(in, n, out);
}

bool DecodeUUGroups(const char* in, size_t groups, unsigned char* out, Level level)
{
    size_t g = 0;
    bool plain = true;
#ifdef MIMEENGINE_BASE64_X86
    if (level != Level::Scalar && Best() != Level::Scalar)
        g = DecodeUUSse41(in, groups, out, &plain);
#else
    (void)level;
#endif
    for (; g < groups; ++g)
    {
        const unsigned char* s = reinterpret_cast<const unsigned char*>(in + 4 * g);
        for (int i = 0; i < 4; ++i)
            plain = plain && s[i] != '\r' && s[i] != '\n' && s[i] != '~' && s[i] != '\0';
        const unsigned v = (((s[0] - 32u) & 63u) << 18) | (((s[1] - 32u) & 63u) << 12) | (((s[2] - 32u) & 63u) << 6) |
                           ((s[3] - 32u) & 63u);
        out[3 * g] = static_cast<unsigned char>(v >> 16);
        out[3 * g + 1] = static_cast<unsigned char>(v >> 8);
        out[3 * g + 2] = static_cast<unsigned char>(v);
    }
    return plain;
}

void EncodeLines54(const unsigned char* in, size_t lines, char* out, Level level)
{
#ifdef MIMEENGINE_BASE64_X86
    if (level == Level::Avx512Vbmi && Best() == Level::Avx512Vbmi)
        return EncodeLines54Vbmi(in, lines, out);
    if (level >= Level::Avx2 && Best() >= Level::Avx2)
        return EncodeLines54Avx2(in, lines, out);
    if (level != Level::Scalar && Best() != Level::Scalar)
        return EncodeLines54Sse41(in, lines, out);
#else
    (void)level;
#endif
    for (size_t line = 0; line < lines; ++line, in += 54, out += 74)
    {
        EncodeScalar(in, 54, out);
        out[72] = '\r';
        out[73] = '\n';
    }
}

} // namespace base64block
