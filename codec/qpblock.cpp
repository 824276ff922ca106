#include "codec/qpblock.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
#define MIMEENGINE_QP_X86 1
#include <immintrin.h>
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

// The scalar step of a walk at text[q], the line at start being decoded to o up to q: plain
// bytes one at a time up to the next "=", LF or NUL (none when the vector step stopped
// there); then an escape decoded where it stands (with those right after it), a LF that ends
// the line, or a soft line break. A NUL, an "=" without two digits that is no soft break, or
// no line end before stop refuses the line.
inline Next LineStep(const char* text, size_t n, bool textMode, size_t maxLine, size_t stop, size_t& start, size_t& q,
                     unsigned char*& o)
{
    for (; q < stop && text[q] != '=' && text[q] != '\n' && text[q] != '\0'; ++q)
        *o++ = static_cast<unsigned char>(text[q]);
    if (q >= stop)
        return Next::Refused; // longer than maxLine
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
        // A refused line leaves o where its text ends, as every refusal does.
        const bool cr = textMode && q > start && text[q - 1] == '\r';
        if (q - start - cr > maxLine)
            return Next::Refused;
        o -= cr;
        const size_t line = q - start - cr;
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
// and in order, each with their number in its last byte.
struct Compaction
{
    alignas(16) unsigned char order[256][16];
    constexpr Compaction() : order()
    {
        for (int keep = 0; keep < 256; ++keep)
        {
            int k = 0;
            for (int i = 0; i < 8; ++i)
                if (keep & (1 << i))
                    order[keep][k++] = static_cast<unsigned char>(i);
            for (int rest = k; rest < 15; ++rest)
                order[keep][rest] = 0x80;
            // The count, in the row's last byte: the shuffle puts a byte there that nothing
            // reads, and one address serves both.
            order[keep][15] = static_cast<unsigned char>(k);
        }
    }
};
inline constexpr Compaction kCompaction;

// The lead bytes of a run below 0x80 as rows of a membership test of sixteen bytes at once
// (Classify16): bit h of row k is lead[16 * h + k]. Built with vector steps too, since a run may
// be short: each lead[] entry is 0 or 1.
struct LeadRows
{
    __m128i rows;
    bool high; // a lead byte from 0x80 on, which the test does not see
    bool any;  // a lead byte at all: without one (a part outside any multipart) steps skip the test
    __attribute__((target("ssse3"))) explicit LeadRows(const bool* lead)
    {
        static_assert(sizeof(bool) == 1, "lead holds a byte each");
        __m128i row = _mm_setzero_si128(), above = _mm_setzero_si128();
        for (int h = 0; h < 8; ++h)
        {
            row = _mm_or_si128(row, _mm_sll_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lead + 16 * h)),
                                                  _mm_cvtsi32_si128(h)));
            above = _mm_or_si128(above, _mm_loadu_si128(reinterpret_cast<const __m128i*>(lead + 128 + 16 * h)));
        }
        rows = row;
        high = _mm_movemask_epi8(_mm_cmpeq_epi8(above, _mm_setzero_si128())) != 0xFFFF;
        any = _mm_movemask_epi8(_mm_cmpeq_epi8(row, _mm_setzero_si128())) != 0xFFFF;
    }
};

// Where the walk of a run stands between vector steps: the digits of an escape of the last
// step that lie in the next (bits 0 and 1), and which of the two bytes before the next step
// are CRs (bits 0 and 1, for the bytes two and one before).
struct Carry
{
    unsigned digits = 0;
    unsigned crs = 0;
};

// What a vector step of width owned bytes (30 or 62, of width + 2 loaded) does, from the
// classes of its bytes (bit j for byte j): each "=" that two upper-case hexadecimal digits
// follow becomes the byte they make (the digits of one of the last two lie past the owned
// bytes), a soft line break ("=" LF, or "=" CR LF in text mode) is dropped, and a LF right
// after a CR stays as it is: the decoder writes such a line end as it reads it (in text
// mode only where no CR comes before that CR). The step stops at its first event: a NUL,
// any other "=" or LF, or a line end before a lead byte.
template <class Mask> struct Plan
{
    Mask keep;        // the bytes written, before take
    unsigned take;    // the event's place, or width when there is none
    Mask lineEnds;    // the LFs of the line ends taken
    unsigned carried; // the digits past the owned bytes of an escape taken, from bit 0
};
template <class Mask>
inline Plan<Mask> PlanStep(unsigned width, Mask textMask, const Carry& carry, Mask equals, Mask digits, Mask leads,
                           Mask lfs, Mask crs, Mask nuls)
{
    const Mask owned = (Mask{1} << width) - 1;
    equals &= owned;
    lfs &= owned;
    nuls &= owned;
    const Mask leadAfter = leads >> 1;
    const Mask escapes = equals & (digits >> 1) & (digits >> 2);
    // Bit j of crTwoBefore: byte j - 2 is a CR.
    const Mask crTwoBefore = (crs << 2) | Mask{carry.crs};
    const Mask softLf = equals & (lfs >> 1);
    const Mask softCrLf = equals & (crs >> 1) & (lfs >> 2) & textMask;
    const Mask soft = softLf | softCrLf;
    const Mask softLfs = (softLf << 1) | (softCrLf << 2);
    const Mask hard = lfs & (crTwoBefore >> 1) & ~softLfs & ~(crTwoBefore & textMask);
    const Mask ends = softLfs | hard;
    const Mask events = nuls | (equals & ~escapes & ~soft) | (lfs & ~ends) | (hard & leadAfter) |
                        (softLf & (leadAfter >> 1)) | (softCrLf & (leadAfter >> 2));
    const Mask drop = Mask{carry.digits} | (escapes << 1) | (escapes << 2) | soft | softLfs | (softCrLf << 1);
    const unsigned take = static_cast<unsigned>(__builtin_ctzll(events | (Mask{1} << width)));
    const Mask before = (Mask{1} << take) - 1;
    return {~drop & before, take, ends & before, take == width ? static_cast<unsigned>(drop >> width) : 0u};
}

// After a step at q: the line start moves past the last line end taken, without a branch
// (line ends come about once in a few steps, at no pattern).
inline void MoveStart(size_t q, std::uint64_t lineEnds, size_t& start)
{
    const size_t moved = size_t{0} - static_cast<size_t>(lineEnds != 0);
    start ^= (start ^ (q + 64 - static_cast<size_t>(__builtin_clzll(lineEnds | 1)))) & moved;
}

// The end of every step at q: the line start moved, and what the next step takes over (the
// digits of an escape past this one's bytes, and whether its last two bytes are CRs).
template <class Mask>
inline unsigned EndStep(size_t q, const Plan<Mask>& plan, unsigned lastCrs, Carry& carry, size_t& start)
{
    MoveStart(q, plan.lineEnds, start);
    carry.digits = plan.carried;
    carry.crs = lastCrs;
    return plan.take;
}

// The bytes written for text[start..q) of a line that the walk refuses: plain bytes and
// escapes only, each escape's three bytes of text giving one.
inline size_t RefusedBytes(const char* text, size_t start, size_t q)
{
    return q - start - 2 * static_cast<size_t>(std::count(text + start, text + q, '='));
}

// The classes of 16 bytes at p for a step: bit j of each mask for byte j. Byte classes
// come from two nibble lookups: the low nibble (with bit 7, so that bytes from 0x80 on find
// nothing) picks a row, the high nibble a bit of it.
struct Classes16
{
    __m128i bytes; // the bytes, each "=" replaced by the byte of the two after it
    unsigned equals, digits, leads, lfs, crs, nuls;
};

// The value of every hexadecimal digit among 16 bytes (0 to 15; any for other bytes): its
// low nibble, a letter's after adding 9.
__attribute__((target("ssse3"))) inline __m128i DigitValues16(__m128i v)
{
    const __m128i letter = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('9')), _mm_set1_epi8(9));
    return _mm_and_si128(_mm_add_epi8(v, letter), _mm_set1_epi8(0x0F));
}

__attribute__((target("ssse3"))) inline unsigned Bits16(__m128i m)
{
    return static_cast<unsigned>(_mm_movemask_epi8(m));
}

template <bool kLeads> __attribute__((target("ssse3"))) inline Classes16 Classify16(const char* p, __m128i leadRows)
{
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i row = _mm_and_si128(v, _mm_set1_epi8(static_cast<char>(0x8F)));
    const __m128i bit = _mm_shuffle_epi8(_mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128),
                                         _mm_and_si128(_mm_srli_epi16(v, 4), nibble));
    // Rows of the digits: "0" to "9" (high nibble 3) and "A" to "F" (4).
    const __m128i hexRows = _mm_setr_epi8(8, 24, 24, 24, 24, 24, 24, 8, 8, 8, 0, 0, 0, 0, 0, 0);
    const __m128i isDigit = _mm_cmpeq_epi8(_mm_and_si128(_mm_shuffle_epi8(hexRows, row), bit), bit);
    const __m128i isLead = _mm_cmpeq_epi8(_mm_and_si128(_mm_shuffle_epi8(leadRows, row), bit), bit);
    const __m128i eq = _mm_cmpeq_epi8(v, _mm_set1_epi8('='));
    // Every "=" that is kept begins an escape: the others end the step or are dropped.
    const __m128i decoded =
        _mm_or_si128(_mm_slli_epi16(DigitValues16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1))), 4),
                     DigitValues16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2))));
    return {_mm_or_si128(_mm_and_si128(eq, decoded), _mm_andnot_si128(eq, v)),
            Bits16(eq),
            Bits16(isDigit),
            kLeads ? Bits16(isLead) : 0u,
            Bits16(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))),
            Bits16(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r'))),
            Bits16(_mm_cmpeq_epi8(v, _mm_setzero_si128()))};
}

// One vector step over the 32 bytes at text[q] (and the two after them, for the escapes'
// bytes), of which the first thirty are decoded to o as PlanStep says, shuffles gathering
// the bytes kept eight at a time; returns the place of its event, or 30. start moves past
// every line end before it. The caller makes sure of room and that no line grows past
// maxLine here.
template <bool kLeads>
__attribute__((target("ssse3"))) inline unsigned Step30(const char* text, size_t q, unsigned textMask, __m128i leadRows,
                                                        Carry& carry, size_t& start, unsigned char*& o)
{
    const Classes16 a = Classify16<kLeads>(text + q, leadRows), b = Classify16<kLeads>(text + q + 16, leadRows);
    const unsigned crs = a.crs | (b.crs << 16);
    const Plan<unsigned> plan =
        PlanStep<unsigned>(30, textMask, carry, a.equals | (b.equals << 16), a.digits | (b.digits << 16),
                           a.leads | (b.leads << 16), a.lfs | (b.lfs << 16), crs, a.nuls | (b.nuls << 16));
    const __m128i halves[2] = {a.bytes, b.bytes};
    for (int k = 0; k < 4; ++k)
    {
        const unsigned keep = (plan.keep >> (8 * k)) & 0xFF;
        const __m128i part = k % 2 == 0 ? halves[k / 2] : _mm_srli_si128(halves[k / 2], 8);
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(o),
            _mm_shuffle_epi8(part, _mm_load_si128(reinterpret_cast<const __m128i*>(kCompaction.order[keep]))));
        o += kCompaction.order[keep][15];
    }
    return EndStep(q, plan, (crs >> 28) & 3, carry, start);
}

// The walk of RunSse2 with escapes and the usual line ends taken in vector steps, without
// a branch for each: steps of Steps::kWidth bytes while no event comes, room is left for a
// line that begins in the step, and no line can grow past maxLine in it; LineStep takes an
// event, and the bytes of a line where steps may not go. Inlined into the entry point of
// each version, whose target the steps need.
template <class Steps>
[[gnu::always_inline]] inline void RunSteps(const Steps& steps, const char* text, size_t n, bool textMode,
                                            const bool* lead, size_t maxLine, unsigned char* out, size_t room,
                                            size_t* used, size_t* length)
{
    constexpr size_t width = Steps::kWidth;
    unsigned char* const outEnd = out + room;
    size_t start = 0;
    size_t q = 0;
    unsigned char* o = out;
    // At every line start q is start, and o where its bytes go.
    while (start < n && static_cast<size_t>(outEnd - o) >= maxLine + kRunSlack && MayTake(text, start, textMode, lead))
    {
        Next next = Next::Go;
        while (next == Next::Go)
        {
            // A step's place does not wait for the one before: width bytes on unless an
            // event stops the steps. The loads (width + 4 bytes) stay in the run, and no line
            // grows past maxLine in a step (end is renewed only when reached: the line start
            // only moves on); a line that begins in a step has room.
            size_t end = std::min(n, start + maxLine + 2);
            Carry carry;
            for (; static_cast<size_t>(outEnd - o) >= width + maxLine + kRunSlack; q += width)
            {
                if (q + width + 4 > end)
                {
                    end = std::min(n, start + maxLine + 2);
                    if (q + width + 4 > end)
                        break;
                }
                const unsigned take = steps.Step(text, q, carry, start, o);
                if (take != width)
                {
                    q += take;
                    break;
                }
            }
            // Past the digits of an escape that the last step decoded.
            q += (carry.digits & 1) + (carry.digits >> 1);
            const size_t stop = n - start > maxLine + 2 ? start + maxLine + 2 : n;
            next = LineStep(text, n, textMode, maxLine, stop, start, q, o);
        }
        if (next == Next::Refused)
        {
            o -= RefusedBytes(text, start, q);
            break;
        }
        q = start;
    }
    *used = start;
    *length = static_cast<size_t>(o - out);
}

// The steps of thirty bytes (Step30), with the lead test where the run has lead bytes.
struct Steps30
{
    static constexpr size_t kWidth = 30;
    __m128i leadRows;
    unsigned textMask;
    bool leads;
    __attribute__((target("ssse3"))) inline unsigned Step(const char* text, size_t q, Carry& carry, size_t& start,
                                                          unsigned char*& o) const
    {
        return leads ? Step30<true>(text, q, textMask, leadRows, carry, start, o)
                     : Step30<false>(text, q, textMask, leadRows, carry, start, o);
    }
};

// Where a lead byte lies from 0x80 on, the SSE2 walk.
__attribute__((target("ssse3"))) MIMEENGINE_QP_ALIGN_STACK void RunSsse3(const char* text, size_t n, bool textMode,
                                                                         const bool* lead, size_t maxLine,
                                                                         unsigned char* out, size_t room, size_t* used,
                                                                         size_t* length)
{
    const LeadRows leads(lead);
    if (leads.high)
        return RunSse2(text, n, textMode, lead, maxLine, out, room, used, length);
    RunSteps(Steps30{leads.rows, textMode ? ~0u : 0u, leads.any}, text, n, textMode, lead, maxLine, out, room, used,
             length);
}

// The value of every hexadecimal digit among 32 bytes (0 to 15; any for other bytes).
__attribute__((target("avx2"))) inline __m256i DigitValues(__m256i v)
{
    const __m256i letter = _mm256_and_si256(_mm256_cmpgt_epi8(v, _mm256_set1_epi8('9')), _mm256_set1_epi8(9));
    return _mm256_and_si256(_mm256_add_epi8(v, letter), _mm256_set1_epi8(0x0F));
}

// Bit j set where byte j of a compare result is.
__attribute__((target("avx2"))) inline unsigned Bits(__m256i m)
{
    return static_cast<unsigned>(_mm256_movemask_epi8(m));
}

// The classes of 32 bytes at p for a step: bit j of each mask for byte j.
struct Classes
{
    __m256i bytes; // the bytes, each "=" replaced by the byte of the two after it
    unsigned equals, digits, leads, lfs, crs, nuls;
};
template <bool kLeads> __attribute__((target("avx2"))) inline Classes Classify(const char* p, __m256i leadRows)
{
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i row = _mm256_and_si256(v, _mm256_set1_epi8(static_cast<char>(0x8F)));
    const __m256i bit =
        _mm256_shuffle_epi8(_mm256_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16,
                                             32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128),
                            _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble));
    const __m256i hexRows = _mm256_setr_epi8(8, 24, 24, 24, 24, 24, 24, 8, 8, 8, 0, 0, 0, 0, 0, 0, 8, 24, 24, 24, 24,
                                             24, 24, 8, 8, 8, 0, 0, 0, 0, 0, 0);
    const __m256i isDigit = _mm256_cmpeq_epi8(_mm256_and_si256(_mm256_shuffle_epi8(hexRows, row), bit), bit);
    const __m256i isLead = _mm256_cmpeq_epi8(_mm256_and_si256(_mm256_shuffle_epi8(leadRows, row), bit), bit);
    const __m256i eq = _mm256_cmpeq_epi8(v, _mm256_set1_epi8('='));
    // The digit values of the bytes one and two on come from loads there: a byte shift
    // would not cross the halves.
    const __m256i decoded =
        _mm256_or_si256(_mm256_slli_epi16(DigitValues(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1))), 4),
                        DigitValues(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2))));
    return {_mm256_blendv_epi8(v, decoded, eq),
            Bits(eq),
            Bits(isDigit),
            kLeads ? Bits(isLead) : 0u,
            Bits(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\n'))),
            Bits(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\r'))),
            Bits(_mm256_cmpeq_epi8(v, _mm256_setzero_si256()))};
}

// Step30 over the 64 bytes at text[q] (and the two after them, for the escapes' bytes),
// sixty-two of them decoded: twice as many bytes for the masks of one plan. Returns the
// event's place, or 62.
template <bool kLeads>
__attribute__((target("avx2,bmi,bmi2"))) inline unsigned Step62(const char* text, size_t q, std::uint64_t textMask,
                                                                __m256i leadRows, Carry& carry, size_t& start,
                                                                unsigned char*& o)
{
    const Classes a = Classify<kLeads>(text + q, leadRows), b = Classify<kLeads>(text + q + 32, leadRows);
    const auto join = [](unsigned low, unsigned high) { return low | (std::uint64_t{high} << 32); };
    const std::uint64_t crs = join(a.crs, b.crs);
    const Plan<std::uint64_t> plan =
        PlanStep<std::uint64_t>(62, textMask, carry, join(a.equals, b.equals), join(a.digits, b.digits),
                                join(a.leads, b.leads), join(a.lfs, b.lfs), crs, join(a.nuls, b.nuls));
    // Eight bytes at a time, each through its shuffle.
    const __m128i halves[4] = {_mm256_castsi256_si128(a.bytes), _mm256_extracti128_si256(a.bytes, 1),
                               _mm256_castsi256_si128(b.bytes), _mm256_extracti128_si256(b.bytes, 1)};
    for (int k = 0; k < 8; ++k)
    {
        const unsigned keep = static_cast<unsigned>(plan.keep >> (8 * k)) & 0xFF;
        const __m128i part = k % 2 == 0 ? halves[k / 2] : _mm_srli_si128(halves[k / 2], 8);
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(o),
            _mm_shuffle_epi8(part, _mm_load_si128(reinterpret_cast<const __m128i*>(kCompaction.order[keep]))));
        o += kCompaction.order[keep][15];
    }
    return EndStep(q, plan, static_cast<unsigned>(crs >> 60) & 3, carry, start);
}

// The steps of sixty-two bytes (Step62).
struct Steps62
{
    static constexpr size_t kWidth = 62;
    __m256i leadRows;
    std::uint64_t textMask;
    bool leads;
    __attribute__((target("avx2,bmi,bmi2"))) inline unsigned Step(const char* text, size_t q, Carry& carry,
                                                                  size_t& start, unsigned char*& o) const
    {
        return leads ? Step62<true>(text, q, textMask, leadRows, carry, start, o)
                     : Step62<false>(text, q, textMask, leadRows, carry, start, o);
    }
};

// RunSsse3 with steps of sixty-two bytes (and BMI instructions for the masks).
__attribute__((target("avx2,bmi,bmi2"))) MIMEENGINE_QP_ALIGN_STACK void RunAvx2(const char* text, size_t n,
                                                                                bool textMode, const bool* lead,
                                                                                size_t maxLine, unsigned char* out,
                                                                                size_t room, size_t* used,
                                                                                size_t* length)
{
    const LeadRows leads(lead);
    if (leads.high)
        return RunSse2(text, n, textMode, lead, maxLine, out, room, used, length);
    RunSteps(Steps62{_mm256_broadcastsi128_si256(leads.rows), textMode ? ~std::uint64_t{0} : 0, leads.any}, text, n,
             textMode, lead, maxLine, out, room, used, length);
}

// The classes of 64 bytes for a step: bit j of each mask for byte j.
struct Classes64
{
    __m512i bytes; // the bytes, each "=" replaced by the byte of the two after it
    std::uint64_t equals, digits, leads, lfs, crs, nuls;
};

__attribute__((target("avx512f,avx512bw"))) inline __m512i DigitValues64(__m512i v)
{
    const __m512i letter = _mm512_maskz_mov_epi8(_mm512_cmpgt_epi8_mask(v, _mm512_set1_epi8('9')), _mm512_set1_epi8(9));
    return _mm512_and_si512(_mm512_add_epi8(v, letter), _mm512_set1_epi8(0x0F));
}

// Classify over 64 bytes at p, from AVX-512 compares that give the masks themselves: the same
// nibble lookups, and a test of each byte's bit in its row. The broadcasts take their mask
// form, since GCC 12 warns of the undefined source of the plain one.
template <bool kLeads>
__attribute__((target("avx512f,avx512bw"))) inline Classes64 Classify64(const char* p, __m512i leadRows)
{
    const __m512i v = _mm512_loadu_si512(p);
    const __m512i nibble = _mm512_set1_epi8(0x0F);
    const __m512i row = _mm512_and_si512(v, _mm512_set1_epi8(static_cast<char>(0x8F)));
    const __m512i bit = _mm512_shuffle_epi8(
        _mm512_maskz_broadcast_i32x4(0xFFFF, _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128)),
        _mm512_and_si512(_mm512_srli_epi16(v, 4), nibble));
    const __m512i hexRows =
        _mm512_maskz_broadcast_i32x4(0xFFFF, _mm_setr_epi8(8, 24, 24, 24, 24, 24, 24, 8, 8, 8, 0, 0, 0, 0, 0, 0));
    const __mmask64 eq = _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('='));
    const __m512i decoded = _mm512_or_si512(_mm512_slli_epi16(DigitValues64(_mm512_loadu_si512(p + 1)), 4),
                                            DigitValues64(_mm512_loadu_si512(p + 2)));
    return {_mm512_mask_blend_epi8(eq, v, decoded),
            eq,
            _mm512_test_epi8_mask(_mm512_shuffle_epi8(hexRows, row), bit),
            kLeads ? _mm512_test_epi8_mask(_mm512_shuffle_epi8(leadRows, row), bit) : 0u,
            _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('\n')),
            _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('\r')),
            _mm512_testn_epi8_mask(v, v)};
}

// Step62 with the 64 bytes classified at once and the bytes kept gathered by one compress
// instruction (AVX-512 VBMI2) instead of eight shuffles from the table.
template <bool kLeads>
__attribute__((target("avx512f,avx512bw,avx512vbmi2,bmi,bmi2,popcnt"))) inline unsigned Step62Compress(
    const char* text, size_t q, std::uint64_t textMask, __m512i leadRows, Carry& carry, size_t& start,
    unsigned char*& o)
{
    const Classes64 c = Classify64<kLeads>(text + q, leadRows);
    const Plan<std::uint64_t> plan =
        PlanStep<std::uint64_t>(62, textMask, carry, c.equals, c.digits, c.leads, c.lfs, c.crs, c.nuls);
    _mm512_storeu_si512(o, _mm512_maskz_compress_epi8(plan.keep, c.bytes));
    o += __builtin_popcountll(plan.keep);
    return EndStep(q, plan, static_cast<unsigned>(c.crs >> 60) & 3, carry, start);
}

// The steps of sixty-two bytes with AVX-512 (Step62Compress).
struct Steps62Compress
{
    static constexpr size_t kWidth = 62;
    __m512i leadRows;
    std::uint64_t textMask;
    bool leads;
    __attribute__((target("avx512f,avx512bw,avx512vbmi2,bmi,bmi2,popcnt"))) inline unsigned Step(
        const char* text, size_t q, Carry& carry, size_t& start, unsigned char*& o) const
    {
        return leads ? Step62Compress<true>(text, q, textMask, leadRows, carry, start, o)
                     : Step62Compress<false>(text, q, textMask, leadRows, carry, start, o);
    }
};

// RunAvx2 with the steps of Step62Compress.
__attribute__((target("avx512f,avx512bw,avx512vbmi2,bmi,bmi2,popcnt"))) MIMEENGINE_QP_ALIGN_STACK void RunAvx512(
    const char* text, size_t n, bool textMode, const bool* lead, size_t maxLine, unsigned char* out, size_t room,
    size_t* used, size_t* length)
{
    const LeadRows leads(lead);
    if (leads.high)
        return RunSse2(text, n, textMode, lead, maxLine, out, room, used, length);
    RunSteps(
        Steps62Compress{_mm512_maskz_broadcast_i32x4(0xFFFF, leads.rows), textMode ? ~std::uint64_t{0} : 0, leads.any},
        text, n, textMode, lead, maxLine, out, room, used, length);
}

Level Detect()
{
    __builtin_cpu_init();
    // The AVX2 walk's mask work takes BMI1 and BMI2 too, which every AVX2 processor has.
    const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
    if (avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("popcnt"))
        return Level::Avx512Vbmi2;
    if (avx2)
        return Level::Avx2;
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
    if (level == Level::Avx512Vbmi2 && best == Level::Avx512Vbmi2)
        return RunAvx512(text, n, textMode, lead, maxLine, out, room, used, length);
    if (level >= Level::Avx2 && best >= Level::Avx2)
        return RunAvx2(text, n, textMode, lead, maxLine, out, room, used, length);
    if (level >= Level::Ssse3 && best >= Level::Ssse3)
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
