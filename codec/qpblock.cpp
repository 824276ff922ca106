#include "codec/qpblock.h"

#include <cstdint>
#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
#define MIMEENGINE_QP_X86 1
#include <emmintrin.h>
#endif

// 32-bit callers may keep the stack aligned to 4 bytes only; the vector entry points align
// their own frame there.
#if defined(__i386__)
#define MIMEENGINE_QP_ALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define MIMEENGINE_QP_ALIGN_STACK
#endif

namespace qpblock
{

namespace
{

// The byte of the two hexadecimal digits at p (upper case, as an escape writes them) into
// *byte; false, with *byte untouched, when either is no such digit.
inline bool HexPair(const char* p, unsigned char* byte)
{
    const unsigned char high = kHex.value[static_cast<unsigned char>(p[0])];
    const unsigned char low = kHex.value[static_cast<unsigned char>(p[1])];
    if ((high | low) == kNoDigit)
        return false;
    *byte = static_cast<unsigned char>(high * 16 + low);
    return true;
}

// Decodes the escapes that follow one another from text[p] (an "="), and what stands after
// them when the line ends there. Returns 1 to go on with plain bytes at p, 0 when the line is
// done (*length set), -1 when the line takes the general path.
inline int Escapes(const char* text, size_t n, size_t& p, size_t& last, unsigned char*& o, unsigned char* out,
                   size_t* length)
{
    while (text[p] == '=')
    {
        if (p + 1 == n)
        {
            // Soft line break: the line end is not data.
            *length = static_cast<size_t>(o - out);
            return 0;
        }
        if (p + 2 == n)
            return -1;
        if (!HexPair(text + p + 1, o))
            return -1;
        ++o;
        p += 3;
        last = p;
        if (p == n)
            return 1;
    }
    return text[p] == '\0' ? -1 : 1;
}

// The rest of the line from p, one word or one byte at a time, then its line end.
bool Finish(const char* text, size_t n, size_t p, size_t last, unsigned char* o, unsigned char* out, size_t* length)
{
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
        const int more = Escapes(text, n, p, last, o, out, length);
        if (more <= 0)
            return more == 0;
        if (p == n)
            break;
    }
    // The rest ends with the line end: after a CR of the text only the LF follows;
    // otherwise the line end is written as CR LF.
    if (n == last || text[n - 1] != '\r')
        *o++ = '\r';
    *o++ = '\n';
    *length = static_cast<size_t>(o - out);
    return true;
}

#ifdef MIMEENGINE_QP_X86

// Sixteen bytes a step from s[q]: one compare each for "=" and NUL gives the plain bytes
// before the first of them, which were stored with the whole step, and the escape there is
// decoded in place. Steps while sixteen bytes remain before end or, for kLast, up to end,
// with s readable to s + end + 15. 1 when the steps are done, 0 for a soft line break (*o
// then ends the data), -1 when the line takes the general path. *last is where the last
// escape ended.
template <bool kLast>
__attribute__((target("sse2"))) inline int Steps(const char* s, size_t end, size_t& q, unsigned char*& o, size_t& last)
{
    const __m128i equals = _mm_set1_epi8('=');
    const __m128i zero = _mm_setzero_si128();
    while (kLast ? q < end : q + 16 <= end)
    {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + q));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), v);
        unsigned mask =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, equals), _mm_cmpeq_epi8(v, zero))));
        if (kLast)
            mask &= (1u << (end - q)) - 1;
        if (mask == 0)
        {
            const size_t step = kLast ? end - q : 16;
            q += step;
            o += step;
            continue;
        }
        const size_t k = static_cast<size_t>(__builtin_ctz(mask));
        q += k;
        o += k;
        if (s[q] != '=')
            return -1;
        if (q + 2 >= end)
            return q + 1 == end ? 0 : -1;
        if (!HexPair(s + q + 1, o))
            return -1;
        ++o;
        q += 3;
        last = q;
    }
    return 1;
}

// The line in steps of sixteen bytes; its last fewer than sixteen from a copy with room
// after them, so that no step reads past the line.
__attribute__((target("sse2"))) MIMEENGINE_QP_ALIGN_STACK bool DecodeSse2(const char* text, size_t n,
                                                                          unsigned char* out, size_t* length)
{
    unsigned char* o = out;
    size_t p = 0;
    size_t last = 0;
    int state = Steps<false>(text, n, p, o, last);
    bool escapeEnds = n == last;
    const size_t rest = n - p;
    if (state > 0 && rest > 0)
    {
        alignas(16) char copy[32] = {};
        if (n >= 16)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(copy),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + n - 16)));
        else
            std::memcpy(copy + 16 - n, text, n);
        // copy[16 - rest..16) holds text[p..n).
        size_t q = 0, tailLast = 0;
        state = Steps<true>(copy + 16 - rest, rest, q, o, tailLast);
        escapeEnds = rest == tailLast;
    }
    if (state < 0)
        return false;
    // After a CR of the text only the LF follows; otherwise the line end is CR LF. A soft
    // line break ends the data without a line end.
    if (state > 0)
    {
        if (escapeEnds || text[n - 1] != '\r')
            *o++ = '\r';
        *o++ = '\n';
    }
    *length = static_cast<size_t>(o - out);
    return true;
}

#endif

// DecodeRun a line at a time, through DecodeLine.
void RunLines(const char* text, size_t n, bool textMode, const bool* lead, size_t maxLine, unsigned char* out,
              size_t room, size_t* used, size_t* length, bool vector)
{
    size_t p = 0;
    unsigned char* o = out;
    while (p < n && static_cast<size_t>(out + room - o) >= maxLine + kRunSlack)
    {
        const char* nl = static_cast<const char*>(std::memchr(text + p, '\n', n - p));
        size_t line = static_cast<size_t>(nl - (text + p));
        const size_t raw = line + 1;
        if (textMode && line > 0 && text[p + line - 1] == '\r')
            --line;
        if (line > maxLine || (line > 0 && lead[static_cast<unsigned char>(text[p])]))
            break;
        size_t k = 0;
        if (!DecodeLine(text + p, line, o, &k, vector))
            break;
        o += k;
        p += raw;
    }
    *used = p;
    *length = static_cast<size_t>(o - out);
}

#ifdef MIMEENGINE_QP_X86

// The run in one walk: sixteen bytes a step are stored and classified at once ("=", LF and
// NUL); plain bytes need nothing more, an escape is decoded where it stands, and a LF or a
// soft line break ends the line in place. start and lineOut mark the line being decoded:
// everything before them is done.
__attribute__((target("sse2"))) MIMEENGINE_QP_ALIGN_STACK void RunSse2(const char* text, size_t n, bool textMode,
                                                                       const bool* lead, size_t maxLine,
                                                                       unsigned char* out, size_t room, size_t* used,
                                                                       size_t* length)
{
    const __m128i equals = _mm_set1_epi8('=');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i zero = _mm_setzero_si128();
    unsigned char* const outEnd = out + room;
    size_t start = 0;
    unsigned char* lineOut = out;
    while (start < n && static_cast<size_t>(outEnd - lineOut) >= maxLine + kRunSlack)
    {
        const char first = text[start];
        const bool empty = first == '\n' || (textMode && first == '\r' && text[start + 1] == '\n');
        if (!empty && lead[static_cast<unsigned char>(first)])
            break;
        // A line of maxLine characters has its line end (CR LF at most) before stop.
        const size_t stop = n - start > maxLine + 2 ? start + maxLine + 2 : n;
        size_t q = start;
        unsigned char* o = lineOut;
        for (;;)
        {
            if (q + 16 <= stop)
            {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + q));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o), v);
                const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
                    _mm_or_si128(_mm_cmpeq_epi8(v, equals), _mm_cmpeq_epi8(v, lf)), _mm_cmpeq_epi8(v, zero))));
                if (mask == 0)
                {
                    q += 16;
                    o += 16;
                    continue;
                }
                const size_t k = static_cast<size_t>(__builtin_ctz(mask));
                q += k;
                o += k;
            }
            else
            {
                for (; q < stop && text[q] != '=' && text[q] != '\n' && text[q] != '\0'; ++q)
                    *o++ = static_cast<unsigned char>(text[q]);
                if (q >= stop)
                    goto refused; // longer than maxLine
            }
            // Most often an escape with its two digits: text[q + 2] lies in the run unless the
            // "=" ends it, and neither digit is a LF.
            const char c = text[q];
            if (c == '=' && q + 2 < n && HexPair(text + q + 1, o))
            {
                ++o;
                q += 3;
                // The bytes of one character often come as escapes one after another.
                for (; q + 2 < n && text[q] == '=' && HexPair(text + q + 1, o); q += 3)
                    ++o;
                continue;
            }
            if (c == '\n')
            {
                size_t line = q - start;
                if (textMode && line > 0 && text[q - 1] == '\r')
                {
                    --line;
                    --o;
                }
                if (line > maxLine)
                    goto refused;
                // After a CR of the text (never the end of an escape) only the LF follows.
                if (line == 0 || text[start + line - 1] != '\r')
                    *o++ = '\r';
                *o++ = '\n';
                start = q + 1;
                break;
            }
            if (c == '\0')
                goto refused;
            // An "=" without two digits: a soft line break or a line for the general path. The
            // run ends with a LF, so text[q + 1] is there, and text[q + 2] too unless
            // text[q + 1] is that LF.
            const size_t soft = text[q + 1] == '\n'                                      ? 2
                                : textMode && text[q + 1] == '\r' && text[q + 2] == '\n' ? 3
                                                                                         : 0;
            if (soft == 0 || q + 1 - start > maxLine)
                goto refused;
            start = q + soft;
            break;
        }
        lineOut = o;
    }
refused:
    *used = start;
    *length = static_cast<size_t>(lineOut - out);
}

bool Detect()
{
#if defined(__x86_64__) || defined(__SSE2__)
    return true;
#else
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse2");
#endif
}

#endif

} // namespace

bool VectorAvailable()
{
#ifdef MIMEENGINE_QP_X86
    static const bool available = Detect();
    return available;
#else
    return false;
#endif
}

void DecodeRun(const char* text, size_t n, bool textMode, const bool* lead, size_t maxLine, unsigned char* out,
               size_t room, size_t* used, size_t* length, bool vector)
{
#ifdef MIMEENGINE_QP_X86
    if (vector && VectorAvailable())
        return RunSse2(text, n, textMode, lead, maxLine, out, room, used, length);
#endif
    RunLines(text, n, textMode, lead, maxLine, out, room, used, length, vector);
}

bool DecodeLine(const char* text, size_t n, unsigned char* out, size_t* length, bool vector)
{
#ifdef MIMEENGINE_QP_X86
    if (vector && VectorAvailable())
        return DecodeSse2(text, n, out, length);
#else
    (void)vector;
#endif
    return Finish(text, n, 0, 0, out, out, length);
}

} // namespace qpblock
