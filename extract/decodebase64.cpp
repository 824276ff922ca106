// Base64 bodies (RFC 2045 6.8): groups may span lines, "(comments)" are skipped, and a
// padded group ends the data.
#include "codec/base64block.h"
#include "extract/bodycodecs.h"
#include "extract/decoders.h"
#include "mimeengine/unpack/unpacker.h"
#include "unpack/boundarylead.h"

#include <cstring>
#include <memory>

namespace bodycodecs
{

namespace
{

// Decodes one group to bytes + *length.
void TakeGroup(Base64State& state, const char* four, unsigned char* bytes, size_t* length)
{
    int n = base64block::DecodeGroup(four, bytes + *length);
    *length += static_cast<size_t>(n);
    state.ended = n < 3;
}

} // namespace

void Base64Line(Base64State& state, const char* line, COutputSink& out)
{
    // Keep "=" and the alphabet, drop everything else and every comment. The work string
    // is never longer than the line, which the line model bounds to 2046 characters.
    char work[LINE_BUFFER_SIZE];
    const size_t length = base64block::CollectSignificant(line, state.inComment, work, sizeof(work));
    if (state.ended)
        return;

    // Four characters give at most three bytes.
    unsigned char bytes[LINE_BUFFER_SIZE];
    size_t produced = 0;
    size_t i = 0;
    while (length - i >= 4)
    {
        if (state.carryLength > 0)
        {
            int need = 4 - state.carryLength;
            memcpy(state.carry + state.carryLength, work + i, static_cast<size_t>(need));
            i += static_cast<size_t>(need);
            state.carryLength = 0;
            TakeGroup(state, state.carry, bytes, &produced);
        }
        else
        {
            TakeGroup(state, work + i, bytes, &produced);
            i += 4;
        }
    }
    while (i < length)
    {
        state.carry[state.carryLength++] = work[i++];
        if (state.carryLength == 4)
        {
            state.carryLength = 0;
            TakeGroup(state, state.carry, bytes, &produced);
        }
    }
    out.Put(bytes, produced);
}

} // namespace bodycodecs

BOOL DecodeBase64Group(const char* four, unsigned char* result)
{
    return base64block::DecodeGroup(four, result) > 0 ? TRUE : FALSE;
}

// Decodes a base64 body into a binary file. Characters outside the alphabet are dropped;
// once a group is short (padding), the following lines are only tested for the
// delimiter. CME_INVALID_ENCODING when the delimiter comes inside a group. Nothing is
// written when the block already has a data file.
_CME_RC CUnpacker::DecodeBase64(COutputBlock* block, char** line, CStdioFile* source)
{
    std::unique_ptr<CFile> file;
    if (block->GetDataFile()[0] == '\0')
    {
        file.reset(OpenBinaryOutputFile(block));
        if (file == nullptr)
            return CME_FILE_ERROR;
    }

    bodycodecs::COutputSink out(file.get());
    bodycodecs::Base64State state;
    bodycodecs::CLineRun lines(source);
    const CBoundaryLead lead(block);
    _CME_RC rc = CME_SUCCESS;
    bool open = false; // a group or a comment is open, or the data has ended
    for (;;)
    {
        // The common lines, whole groups of the alphabet and nothing else while nothing is
        // open, decode in place, as many of the buffered ones as there are in a row: to the
        // same bytes, with the same state after them.
        const char* run = nullptr;
        size_t runLength = 0;
        if (!open && lines.PeekRun(&run, &runLength))
        {
            constexpr size_t room = bodycodecs::COutputSink::MAX_RESERVE;
            size_t length = 0;
            const size_t used = base64block::DecodeRun(run, runLength, lines.TextMode(), lead.Table(),
                                                       LINE_READ_LIMIT - 2, out.Reserve(room), room, &length);
            if (used > 0)
            {
                out.Commit(length);
                lines.TakeRun(used);
                continue;
            }
        }
        if (lines.ReadString(*line) == nullptr)
            break;
        char* end = strrchr(*line, '\n');
        if (end != nullptr)
            *end = '\0';
        if (IsBoundaryLine(*line, block) != BOUNDARY_NONE)
        {
            if (state.carryLength > 0)
                rc = CME_INVALID_ENCODING;
            break;
        }
        bodycodecs::Base64Line(state, *line, out);
        open = state.carryLength > 0 || state.inComment || state.ended;
    }

    out.Finish();
    if (file != nullptr)
        file->Close();
    return rc;
}
