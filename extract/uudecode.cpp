// Uuencoded bodies: X-UUENCODE with "begin" and "end" lines, and bare UUENCODE lines.
#include "codec/base64block.h"
#include "extract/bodycodecs.h"
#include "extract/decoders.h"
#include "extract/outputnames.h"
#include "mimeengine/unpack/unpacker.h"
#include "platform/chartable.h"
#include "platform/fileutilities.h"
#include "platform/oscalls.h"
#include "platform/win32.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
#include <emmintrin.h>
#endif

// 32-bit callers may keep the stack aligned to 4 bytes only: vector code there aligns its own
// frame.
#if defined(__i386__)
#define MIMEENGINE_UU_ALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define MIMEENGINE_UU_ALIGN_STACK
#endif

namespace
{

using platform::IsSpace;

// Value of a uuencoded character.
inline unsigned int UUValue(char c)
{
    return (static_cast<unsigned char>(c) - 32u) & 63u;
}

// Width to which every line is cut or padded before decoding.
constexpr int kLineWidth = 79;

} // namespace

namespace bodycodecs
{

namespace
{

// Decodes a line cut or padded to 79 characters, a NUL after them and zeros beyond.
unsigned int UUPaddedBytes(const char* padded, unsigned char* out, unsigned int* count)
{
    *count = 0;
    unsigned int n = UUValue(padded[0]);
    if (n == 0)
        return CME_UU_EMPTY_LINE;

    // The length character may promise more groups, and the check character may lie
    // further out, than the 79 characters hold: those positions read as NUL characters.
    size_t pos = padded[0] == '.' ? 2 : 1;
    // Where the check character falls on padding, no sum is needed: whole groups are
    // decoded at once (the bytes past the count are scratch within the 64 allowed).
    const size_t groups = (n + 2) / 3;
    if (IsSpace(padded[pos + 4 * groups + 4]))
    {
        base64block::DecodeUUGroups(padded + pos, groups, out);
        *count = n;
        return CME_SUCCESS;
    }
    int sum = 0;
    for (int left = static_cast<int>(n); left > 0; left -= 3, pos += 4)
    {
        unsigned int w = UUValue(padded[pos]), x = UUValue(padded[pos + 1]);
        unsigned int y = UUValue(padded[pos + 2]), z = UUValue(padded[pos + 3]);
        unsigned char bytes[3] = {static_cast<unsigned char>(w * 4 + x / 16),
                                  static_cast<unsigned char>(x * 16 + y / 4), static_cast<unsigned char>(y * 64 + z)};
        int take = left >= 3 ? 3 : left;
        for (int k = 0; k < take; ++k)
            out[(*count)++] = bytes[k];
        // The check sum counts all three bytes as signed values, the ones not output too.
        sum += static_cast<signed char>(bytes[0]) + static_cast<signed char>(bytes[1]) +
               static_cast<signed char>(bytes[2]);
        sum %= 64;
    }

    // The check character is the fifth after the last group; on lines of ordinary length
    // it falls on the padding spaces, so only short lines with a trailing character are
    // checked.
    char check = padded[pos + 4];
    if (IsSpace(check))
        return CME_SUCCESS;
    return static_cast<int>(UUValue(check)) == sum ? CME_SUCCESS : CME_UU_CHECKSUM;
}

constexpr size_t kPaddedSize = kLineWidth + 1 + 24;

// The length of the start of text[0..limit) that holds no CR, NUL or "~": sixteen characters
// a step where SSE2 is always there (the last step again over the last sixteen), one at a
// time elsewhere.
#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
MIMEENGINE_UU_ALIGN_STACK size_t PlainPrefix(const char* text, size_t limit)
{
    const __m128i cr = _mm_set1_epi8('\r'), tilde = _mm_set1_epi8('~'), zero = _mm_setzero_si128();
    const auto specials = [&](const char* at) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        return static_cast<unsigned>(_mm_movemask_epi8(
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, tilde)), _mm_cmpeq_epi8(v, zero))));
    };
    size_t i = 0;
    for (; i + 16 <= limit; i += 16)
        if (const unsigned mask = specials(text + i))
            return i + static_cast<size_t>(__builtin_ctz(mask));
    if (i == limit)
        return limit;
    if (limit >= 16)
    {
        const unsigned mask = specials(text + limit - 16) >> (16 - (limit - i));
        return mask != 0 ? i + static_cast<size_t>(__builtin_ctz(mask)) : limit;
    }
    for (; i < limit && text[i] != '\r' && text[i] != '\0' && text[i] != '~'; ++i)
    {
    }
    return i;
}
#else
size_t PlainPrefix(const char* text, size_t limit)
{
    size_t i = 0;
    for (; i < limit && text[i] != '\r' && text[i] != '\0' && text[i] != '~'; ++i)
    {
    }
    return i;
}
#endif

} // namespace

unsigned int UULineBytes(char* line, unsigned char* out, unsigned int* count)
{
    for (int i = 0; i < kLineWidth; ++i)
    {
        char c = line[i];
        if (c == '\r' || c == '\n' || c == '\0')
        {
            memset(line + i, ' ', static_cast<size_t>(kLineWidth - i));
            break;
        }
        // Some encoders write "~" for "^"; both stand for the value 62.
        if (c == '~')
            line[i] = '^';
    }
    line[kLineWidth] = '\0';
    char padded[kPaddedSize] = {};
    memcpy(padded, line, kLineWidth + 1);
    return UUPaddedBytes(padded, out, count);
}

unsigned int UUTextBytes(const char* text, size_t n, unsigned char* out, unsigned int* count)
{
    const size_t limit = n < static_cast<size_t>(kLineWidth) ? n : static_cast<size_t>(kLineWidth);
    const size_t plain = PlainPrefix(text, limit); // text[0..plain) is used as it stands
    // The usual line: the groups the length character promises lie within the text, and the
    // character after them that could be a check character is white space, or padding within
    // the 79 columns. Its groups decode straight from the text.
    if (plain > 0 && (plain == limit || text[plain] != '~'))
    {
        const size_t groups = (UUValue(text[0]) + 2) / 3;
        const size_t pos = text[0] == '.' ? 2 : 1;
        const size_t check = pos + 4 * groups + 4;
        if (UUValue(text[0]) != 0 && pos + 4 * groups <= plain &&
            (check < plain ? IsSpace(text[check]) : check < static_cast<size_t>(kLineWidth)))
        {
            base64block::DecodeUUGroups(text + pos, groups, out);
            *count = UUValue(text[0]);
            return CME_SUCCESS;
        }
    }
    char padded[kPaddedSize];
    if (plain > 0) // an empty text may come without a buffer
        memcpy(padded, text, plain);
    size_t i = plain;
    for (; i < limit; ++i)
    {
        const char c = text[i];
        if (c == '\r' || c == '\0')
            break;
        padded[i] = c == '~' ? '^' : c;
    }
    memset(padded + i, ' ', static_cast<size_t>(kLineWidth) - i);
    memset(padded + kLineWidth, 0, kPaddedSize - kLineWidth);
    return UUPaddedBytes(padded, out, count);
}

MIMEENGINE_UU_ALIGN_STACK size_t UUTextRun(const char* text, size_t n, bool textMode, unsigned char* out, size_t room,
                                           size_t* count)
{
    const base64block::Level level = base64block::Best();
    size_t p = 0;
    size_t written = 0;
    while (p < n && room - written >= 64)
    {
        // A line of 1 + 4 * groups characters whose check position lies within the 79 columns
        // after its end needs no check (see UUTextBytes).
        const unsigned int bytes = UUValue(text[p]);
        if (bytes == 0 || bytes > 54 || text[p] == '.')
            break;
        const size_t groups = (bytes + 2) / 3;
        const size_t line = 1 + 4 * groups;
        if (n - p <= line)
            break;
        size_t raw = line + 1;
        if (text[p + line] != '\n')
        {
            if (!textMode || text[p + line] != '\r' || n - p <= line + 1 || text[p + line + 1] != '\n')
                break;
            raw = line + 2;
        }
        // The length character, then its groups, decoded while they are looked at.
        if (text[p] == '\r' || text[p] == '\n' || text[p] == '~' || text[p] == '\0' ||
            !base64block::DecodeUUGroups(text + p + 1, groups, out + written, level))
            break;
        written += bytes;
        p += raw;
    }
    *count = written;
    return p;
}

_CME_RC ParseUUBeginLine(const char* line, UUBeginRules rules, CString& name)
{
    const char* p = strchr(line, ' ');
    if (p == nullptr)
        return CME_UU_BAD_MODE;
    while (IsSpace(*p))
        ++p;
    for (int i = 0; i < 3; ++i)
        if (p[i] < '0' || p[i] > '7')
            return CME_UU_BAD_MODE;
    if (!IsSpace(p[3]) || IsSpace(p[4]) || p[4] == '\0')
        return CME_UU_BAD_BEGIN;

    // Only the last component counts, whichever separator the sender's system used, so the
    // name can never name a directory step.
    const char* start = p + 4;
    const char* last = start;
    for (const char* q = start; *q != '\0'; ++q)
        if (*q == '/' || *q == '\\')
            last = q + 1;
    const char* cr = rules.cutAtCR ? strchr(last, '\r') : nullptr;
    name = cr != nullptr ? CString(last, static_cast<int>(cr - last)) : CString(last);
    if (rules.cutAtCR)
        name.Trim();
    else
        name.TrimRight();
    const char* text = name.GetString();
    if (rules.dropDrive && last == start &&
        ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z')) && text[1] == ':')
        name = name.Mid(2);
    if (name == "." || name == "..")
        name.Empty();
    return CME_SUCCESS;
}

bool IsUUEmptyDataLine(const char* line)
{
    if (line[0] == '\n' && line[1] == '\0')
        return true;
    return (line[0] == '`' || line[0] == ' ') && line[1] == '\n';
}

} // namespace bodycodecs

_CME_RC DecodeUULine(char* line, CFile* output)
{
    unsigned char bytes[64];
    unsigned int count = 0;
    unsigned int rc = bodycodecs::UULineBytes(line, bytes, &count);
    if (count > 0 && output != nullptr)
        output->Write(bytes, count);
    return static_cast<_CME_RC>(rc);
}

int DecodeUULineToBuffer(char* line, unsigned char* buffer, unsigned long* count)
{
    unsigned int n = 0;
    unsigned int rc = bodycodecs::UULineBytes(line, buffer + *count, &n);
    *count += n;
    return rc == CME_UU_CHECKSUM ? 0 : 1;
}

// Decodes a uuencoded body into a binary file (none when the block already has a data
// file: the bytes are dropped). Lines before the data are passed over; CME_UU_NO_BEGIN
// when the delimiter comes first.
_CME_RC CUnpacker::DecodeUUEncode(COutputBlock* block, char** line, CStdioFile* source)
{
    CFile* output = nullptr;
    struct Guard
    {
        CFile*& file;
        ~Guard() { delete file; }
    } guard{output};

    if (block->GetDataFile()[0] == '\0')
    {
        output = OpenBinaryOutputFile(block);
        if (output == nullptr)
            return CME_FILE_ERROR;
    }

    _CME_RC rc = CME_SUCCESS;
    char* current = *line;
    bool more = source->ReadString(current, LINE_READ_LIMIT) != nullptr;
    while (more)
    {
        char* end = strrchr(current, '\n');
        if (end != nullptr)
            *end = '\0';
        if (IsBoundaryLine(current, block) != BOUNDARY_NONE)
        {
            rc = CME_UU_NO_BEGIN;
            break;
        }
        if (block->GetEncodeType() == CMIMEPart::ENCODE_X_UUENCODE)
        {
            if (_strnicmp(current, "begin", 5) == 0)
            {
                rc = DecodeUUBeginFile(block, current, source, output);
                break;
            }
        }
        else if (current[0] != '\0' && !IsSpace(current[0]))
        {
            rc = DecodeUULines(block, current, source, output);
            break;
        }
        more = source->ReadString(current, LINE_READ_LIMIT) != nullptr;
    }

    if (output != nullptr && output->m_hFile != CFile::hFileNull)
        output->Close();
    return rc;
}

// Decodes bare uuencoded lines from line on, up to the delimiter or the end of the input.
// Lines without data are passed over; any other line that does not decode gives
// CME_UU_BAD_DATA (its bytes are kept).
_CME_RC CUnpacker::DecodeUULines(COutputBlock* block, char* line, CStdioFile* source, CFile*& output)
{
    if (IsBoundaryLine(line, block) != BOUNDARY_NONE)
        return CME_SUCCESS;

    bodycodecs::COutputSink out(output);
    _CME_RC rc = CME_SUCCESS;
    for (;;)
    {
        if (!bodycodecs::IsUUEmptyDataLine(line))
        {
            unsigned char bytes[64];
            unsigned int count = 0;
            unsigned int lineRc = bodycodecs::UULineBytes(line, bytes, &count);
            out.Put(bytes, count);
            if (lineRc != CME_SUCCESS)
            {
                rc = CME_UU_BAD_DATA;
                break;
            }
        }
        if (source->ReadString(line, LINE_READ_LIMIT) == nullptr || IsBoundaryLine(line, block) != BOUNDARY_NONE)
            break;
    }
    out.Finish();
    return rc;
}

// Decodes an X-UUENCODE body from its "begin" line (in line) to the empty data line
// followed by "end". The file named on the "begin" line becomes the block's suggested
// name when it had none, and the output file then moves to that name in the work
// directory (numbered when taken); the caller's file pointer is cleared after the move.
_CME_RC CUnpacker::DecodeUUBeginFile(COutputBlock* block, char* line, CStdioFile* source, CFile*& output)
{
    CString name;
    _CME_RC rc = bodycodecs::ParseUUBeginLine(line, bodycodecs::kBodyBegin, name);
    if (rc != CME_SUCCESS)
        return rc;

    bool rename = false;
    if (block->GetSuggestName()[0] == '\0' && !name.IsEmpty())
    {
        block->SetSuggestName(name);
        rename = true;
    }

    bodycodecs::COutputSink out(output);
    bool sawEnd = false;
    rc = CME_UU_BAD_DATA;
    while (source->ReadString(line, LINE_READ_LIMIT) != nullptr)
    {
        if (IsBoundaryLine(line, block) != BOUNDARY_NONE)
        {
            rc = CME_SUCCESS;
            break;
        }
        if (bodycodecs::IsUUEmptyDataLine(line))
        {
            if (source->ReadString(line, LINE_READ_LIMIT) != nullptr && strncmp(line, "end", 3) == 0)
            {
                rc = CME_SUCCESS;
                sawEnd = true;
            }
            break;
        }
        unsigned char bytes[64];
        unsigned int count = 0;
        unsigned int lineRc = bodycodecs::UULineBytes(line, bytes, &count);
        out.Put(bytes, count);
        if (lineRc != CME_SUCCESS)
            break;
    }
    out.Finish();

    if (sawEnd && rename && output != nullptr)
    {
        CString from(block->GetDataFile());
        output->Close();
        CString target;
        if (PickFreeOutputPath(*this, block->GetSuggestName(), target) && platform::RenameFile(from, target) == 0)
            block->SetDataFile(target);
        delete output;
        output = nullptr;
    }
    return rc;
}
