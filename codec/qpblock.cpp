#include "codec/qpblock.h"

#include <cstdint>
#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
#define MIMEENGINE_QP_X86 1
#include <tmmintrin.h>
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

// What the walk of a run does with a byte its vector step left.
enum class Next
{
    Go,       // the line goes on at q
    LineDone, // the line ended: start is the next line's
    Refused   // the run stops before the line at start
};

// The scalar step of a walk at text[q], the line at start being decoded to o up to q: with
// fewer than sixteen bytes before stop, plain bytes one at a time up to the next "=", LF or
// NUL; then an escape decoded where it stands (with those right after it), a LF that ends
// the line, or a soft line break. A NUL, an "=" without two digits that is no soft break, or
// no line end before stop refuses the line.
inline Next LineStep(const char* text, size_t n, bool textMode, size_t maxLine, size_t stop, size_t& start, size_t& q,
                     unsigned char*& o)
{
    if (q + 16 > stop)
    {
        for (; q < stop && text[q] != '=' && text[q] != '\n' && text[q] != '\0'; ++q)
            *o++ = static_cast<unsigned char>(text[q]);
        if (q >= stop)
            return Next::Refused; // longer than maxLine
    }
    // Most often an escape with its two digits: text[q + 2] lies in the run unless the "="
    // ends it, and neither digit is a LF.
    const char c = text[q];
    if (c == '=' && q + 2 < n && HexPair(text + q + 1, o))
    {
        ++o;
        q += 3;
        // The bytes of one character often come as escapes one after another.
        for (; q + 2 < n && text[q] == '=' && HexPair(text + q + 1, o); q += 3)
            ++o;
        return Next::Go;
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
            return Next::Refused;
        // After a CR of the text (never the end of an escape) only the LF follows.
        if (line == 0 || text[start + line - 1] != '\r')
            *o++ = '\r';
        *o++ = '\n';
        start = q + 1;
        return Next::LineDone;
    }
    if (c == '\0')
        return Next::Refused;
    // An "=" without two digits: a soft line break or a line for the general path. The run
    // ends with a LF, so text[q + 1] is there, and text[q + 2] too unless text[q + 1] is
    // that LF.
    const size_t soft = text[q + 1] == '\n' ? 2 : textMode && text[q + 1] == '\r' && text[q + 2] == '\n' ? 3 : 0;
    if (soft == 0 || q + 1 - start > maxLine)
        return Next::Refused;
    start = q + soft;
    return Next::LineDone;
}

// Whether the walk may take the line at text[start]: one that may be a delimiter may not.
inline bool MayTake(const char* text, size_t start, bool textMode, const bool* lead)
{
    const char first = text[start];
    const bool empty = first == '\n' || (textMode && first == '\r' && text[start + 1] == '\n');
    return empty || !lead[static_cast<unsigned char>(first)];
}

// The run in one walk: sixteen bytes a step are stored and classified at once ("=", LF and
// NUL); plain bytes need nothing more, and LineStep takes the byte that ends them. start
// and lineOut mark the line being decoded: everything before them is done.
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
    while (start < n && static_cast<size_t>(outEnd - lineOut) >= maxLine + kRunSlack &&
           MayTake(text, start, textMode, lead))
    {
        // A line of maxLine characters has its line end (CR LF at most) before stop.
        const size_t stop = n - start > maxLine + 2 ? start + maxLine + 2 : n;
        size_t q = start;
        unsigned char* o = lineOut;
        Next next = Next::Go;
        while (next == Next::Go)
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
            next = LineStep(text, n, textMode, maxLine, stop, start, q, o);
        }
        if (next == Next::Refused)
            break;
        lineOut = o;
    }
    *used = start;
    *length = static_cast<size_t>(lineOut - out);
}

// The shuffles that gather the bytes of eight whose bits are set in an index, to the front
// and in order, and their number.
struct Compaction
{
    alignas(16) unsigned char order[256][16];
    unsigned char count[256];
    constexpr Compaction() : order(), count()
    {
        for (int keep = 0; keep < 256; ++keep)
        {
            int k = 0;
            for (int i = 0; i < 8; ++i)
                if (keep & (1 << i))
                    order[keep][k++] = static_cast<unsigned char>(i);
            count[keep] = static_cast<unsigned char>(k);
            for (; k < 16; ++k)
                order[keep][k] = 0x80;
        }
    }
};
inline constexpr Compaction kCompaction;

// Sixteen bytes at s, of which the first fourteen are decoded, to o: each "=" among them
// that two upper-case hexadecimal digits follow becomes the byte they make (the digits of one
// at 12 or 13 lie in the last two bytes), and a shuffle gathers the bytes kept: neither such
// digits nor those in carry (bits 0 and 1: the digits of an escape of the previous step) nor
// any from the first LF, NUL or other "=" on. Returns that event's place, or 14 when there
// is none; carry then gets the digits of this step's escapes that lie past its fourteen bytes.
__attribute__((target("ssse3"))) inline unsigned Step14(const char* s, unsigned& carry, unsigned char*& o)
{
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i eq = _mm_cmpeq_epi8(v, _mm_set1_epi8('='));
    const __m128i decimal = _mm_sub_epi8(v, _mm_set1_epi8('0'));
    const __m128i isDecimal = _mm_cmpeq_epi8(_mm_min_epu8(decimal, _mm_set1_epi8(9)), decimal);
    const __m128i letter = _mm_sub_epi8(v, _mm_set1_epi8('A'));
    const __m128i isLetter = _mm_cmpeq_epi8(_mm_min_epu8(letter, _mm_set1_epi8(5)), letter);
    const __m128i isDigit = _mm_or_si128(isDecimal, isLetter);
    // 0 to 15 for a digit, 0 for every other byte.
    const __m128i value = _mm_or_si128(_mm_and_si128(isDecimal, decimal),
                                       _mm_and_si128(isLetter, _mm_add_epi8(letter, _mm_set1_epi8(10))));
    const __m128i escape = _mm_and_si128(eq, _mm_and_si128(_mm_srli_si128(isDigit, 1), _mm_srli_si128(isDigit, 2)));
    const __m128i decoded = _mm_or_si128(_mm_slli_epi16(_mm_srli_si128(value, 1), 4), _mm_srli_si128(value, 2));
    const __m128i bytes = _mm_or_si128(_mm_and_si128(escape, decoded), _mm_andnot_si128(escape, v));
    const __m128i other =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')), _mm_cmpeq_epi8(v, _mm_setzero_si128())),
                     _mm_andnot_si128(escape, eq));
    const unsigned escapes = static_cast<unsigned>(_mm_movemask_epi8(escape)) & 0x3FFF;
    const unsigned events = static_cast<unsigned>(_mm_movemask_epi8(other)) & 0x3FFF;
    const unsigned digits = (escapes << 1) | (escapes << 2) | carry;
    const unsigned take = static_cast<unsigned>(__builtin_ctz(events | 0x4000));
    const unsigned keep = ~digits & ((1u << take) - 1);
    carry = take == 14 ? digits >> 14 : 0;
    const unsigned low = keep & 0xFF, high = keep >> 8;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o),
                     _mm_shuffle_epi8(bytes, _mm_load_si128(reinterpret_cast<const __m128i*>(kCompaction.order[low]))));
    o += kCompaction.count[low];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o),
                     _mm_shuffle_epi8(_mm_srli_si128(bytes, 8),
                                      _mm_load_si128(reinterpret_cast<const __m128i*>(kCompaction.order[high]))));
    o += kCompaction.count[high];
    return take;
}

// The walk of RunSse2 with escapes decoded in the vector steps, without a branch for each:
// steps of fourteen bytes (Step14) while no LF, NUL or "=" without digits comes; LineStep
// takes such a byte, and the bytes after the last step.
__attribute__((target("ssse3"))) MIMEENGINE_QP_ALIGN_STACK void RunSsse3(const char* text, size_t n, bool textMode,
                                                                         const bool* lead, size_t maxLine,
                                                                         unsigned char* out, size_t room, size_t* used,
                                                                         size_t* length)
{
    unsigned char* const outEnd = out + room;
    size_t start = 0;
    unsigned char* lineOut = out;
    while (start < n && static_cast<size_t>(outEnd - lineOut) >= maxLine + kRunSlack &&
           MayTake(text, start, textMode, lead))
    {
        const size_t stop = n - start > maxLine + 2 ? start + maxLine + 2 : n;
        size_t q = start;
        unsigned char* o = lineOut;
        Next next = Next::Go;
        while (next == Next::Go)
        {
            // A step's place does not wait for the one before: fourteen bytes on unless an
            // event stops the steps.
            unsigned carry = 0;
            for (; q + 16 <= stop; q += 14)
            {
                const unsigned take = Step14(text + q, carry, o);
                if (take != 14)
                {
                    q += take;
                    break;
                }
            }
            // Past the digits of an escape that the last step decoded.
            q += (carry & 1) + (carry >> 1);
            next = LineStep(text, n, textMode, maxLine, stop, start, q, o);
        }
        if (next == Next::Refused)
            break;
        lineOut = o;
    }
    *used = start;
    *length = static_cast<size_t>(lineOut - out);
}

Level Detect()
{
    __builtin_cpu_init();
    if (__builtin_cpu_supports("ssse3"))
        return Level::Ssse3;
#if defined(__x86_64__) || defined(__SSE2__)
    return Level::Sse2;
#else
    return __builtin_cpu_supports("sse2") ? Level::Sse2 : Level::Portable;
#endif
}

#endif

} // namespace

Level Best()
{
#ifdef MIMEENGINE_QP_X86
    static const Level best = Detect();
    return best;
#else
    return Level::Portable;
#endif
}

bool VectorAvailable()
{
    return Best() != Level::Portable;
}

void DecodeRun(const char* text, size_t n, bool textMode, const bool* lead, size_t maxLine, unsigned char* out,
               size_t room, size_t* used, size_t* length, Level level)
{
#ifdef MIMEENGINE_QP_X86
    const Level best = Best();
    if (level == Level::Ssse3 && best == Level::Ssse3)
        return RunSsse3(text, n, textMode, lead, maxLine, out, room, used, length);
    if (level != Level::Portable && best != Level::Portable)
        return RunSse2(text, n, textMode, lead, maxLine, out, room, used, length);
#endif
    RunLines(text, n, textMode, lead, maxLine, out, room, used, length, level != Level::Portable);
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
