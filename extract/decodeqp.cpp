// Quoted-printable bodies (RFC 2045 6.7).
#include "codec/qpblock.h"
#include "extract/bodycodecs.h"
#include "extract/decoders.h"
#include "mimeengine/unpack/unpacker.h"
#include "platform/win32.h"
#include "unpack/boundarylead.h"

#include <cstring>
#include <memory>

namespace bodycodecs
{

int QPEscape(const char* p, unsigned char* byte)
{
    const char* next = NextCharacter(p);
    if (*next == '\0')
        return 1;
    if (*next == '\n')
        return 2;
    unsigned char high = qpblock::kHex.value[static_cast<unsigned char>(next[0])];
    if (high == qpblock::kNoDigit)
        return 0;
    // next[0] is a digit, so next[1] is at worst the terminating NUL.
    unsigned char low = qpblock::kHex.value[static_cast<unsigned char>(next[1])];
    if (low == qpblock::kNoDigit)
        return 0;
    *byte = static_cast<unsigned char>(high * 16 + low);
    return 3;
}

} // namespace bodycodecs

int DecodeQPEscape(const char* p, CFile* output)
{
    unsigned char byte = 0;
    int result = bodycodecs::QPEscape(p, &byte);
    if (result == 3 && output != nullptr)
        output->Write(&byte, 1);
    return result;
}

// Decodes a quoted-printable body into a binary file. A line end becomes CR LF; the
// CR LF before the delimiter belongs to the delimiter and is not kept, which the sink's
// two held-back bytes provide without shortening the file afterwards. A block that
// already has a data file is left alone and nothing is read. CME_INVALID_ENCODING for an
// "=" that is not followed by two upper-case hexadecimal digits or a line end.
_CME_RC CUnpacker::DecodeQuotedPrintable(COutputBlock* block, char** line, CStdioFile* source)
{
    if (block->GetDataFile()[0] != '\0')
        return CME_SUCCESS;
    std::unique_ptr<CFile> file(OpenBinaryOutputFile(block));
    if (file == nullptr)
        return CME_FILE_ERROR;

    bodycodecs::COutputSink out(file.get(), 2);
    bodycodecs::CLineRun lines(source);
    const CBoundaryLead lead(block);
    _CME_RC rc = CME_SUCCESS;
    bool done = false;
    while (!done)
    {
        // The buffered lines that cannot be delimiters decode in place, in one walk up to
        // the first that needs a closer look.
        const char* run = nullptr;
        size_t runLength = 0;
        if (lines.PeekRun(&run, &runLength))
        {
            size_t used = 0;
            size_t length = 0;
            constexpr size_t room = bodycodecs::COutputSink::MAX_RESERVE;
            qpblock::DecodeRun(run, runLength, lines.TextMode(), lead.Table(), LINE_READ_LIMIT - 2, out.Reserve(room),
                               room, &used, &length);
            if (used > 0)
            {
                out.Commit(length);
                lines.TakeRun(used);
                continue;
            }
        }
        // A whole buffered line that cannot be a delimiter decodes in place.
        const char* text = nullptr;
        size_t textLength = 0;
        if (lines.Peek(&text, &textLength) && (textLength == 0 || !lead.MayStart(text[0])))
        {
            size_t length = 0;
            if (qpblock::DecodeLine(text, textLength, out.Reserve(textLength + qpblock::kSlack), &length))
            {
                out.Commit(length);
                lines.Take();
                continue;
            }
        }
        if (lines.ReadString(*line) == nullptr)
            break;
        if (IsBoundaryLine(*line, block) != BOUNDARY_NONE)
        {
            out.DropHeldBack();
            break;
        }

        // A line decodes to at most its own length plus the CR of its line end; collect
        // it and hand it to the sink in one piece.
        char decoded[LINE_BUFFER_SIZE + 2];
        size_t length = 0;
        const char* p = *line;
        bool softBreak = false;
        while (const char* q = strchr(p, '='))
        {
            memcpy(decoded + length, p, static_cast<size_t>(q - p));
            length += static_cast<size_t>(q - p);
            unsigned char byte = 0;
            int escape = bodycodecs::QPEscape(q, &byte);
            if (escape == 3)
            {
                decoded[length++] = static_cast<char>(byte);
                p = q + 3;
                continue;
            }
            if (escape == 2)
                softBreak = true;
            else
            {
                // "=" as the last character read ends the body here; the part walk reads on.
                done = true;
                if (escape == 0)
                    rc = CME_INVALID_ENCODING;
            }
            break;
        }
        if (!done && !softBreak)
        {
            size_t n = strlen(p);
            memcpy(decoded + length, p, n);
            length += n;
            // A "\n" after a CR of the rest is written alone: that CR stands for the line
            // end's own, also where the source, read as text, has already taken CR LF away
            // and the CR was a byte of the data.
            if (n > 0 && p[n - 1] == '\n' && (n < 2 || p[n - 2] != '\r'))
            {
                decoded[length - 1] = '\r';
                decoded[length++] = '\n';
            }
        }
        out.Put(decoded, length);
    }

    out.Finish();
    file->Close();
    return rc;
}
