// Scan of a message without MIME header for files in the old uuencoded form
// ("begin 644 name" ... "end"): one child block and one decoded file per embedded file.
#include "extract/bodycodecs.h"
#include "extract/decoders.h"
#include "mimeengine/unpack/unpacker.h"
#include "platform/fileutilities.h"
#include "platform/win32.h"

#include <cstring>
#include <memory>
#include <utility>

namespace
{

enum
{
    UU_LINE_SIZE = 2048,
    UU_DECODE_SIZE = 8 * 1024,
    // Collected bytes are written once more than this many wait; one line adds at most 63.
    UU_FLUSH_AT = UU_DECODE_SIZE - 64
};

enum : int
{
    UU_MALFORMED = 0,
    UU_COMPLETE = 1,
    UU_STOP = 2
};

bool EndsLine(const char* line)
{
    const size_t n = strlen(line);
    return n > 0 && line[n - 1] == '\n';
}

// A line that is a lone "." (the end-of-message mark of mail transports) ends the scan.
bool IsLoneDot(const char* line)
{
    return line[0] == '.' && (line[1] == '\0' || strcmp(line + 1, "\n") == 0 || strcmp(line + 1, "\r\n") == 0);
}

// "end" alone on its line closes an embedded file; "end " or "endx" do not.
bool IsEndLine(const char* line)
{
    return strncmp(line, "end", 3) == 0 && (line[3] == '\0' || strcmp(line + 3, "\n") == 0);
}

// Writes the collected bytes to output (when there is one) and empties the buffer.
void FlushDecoded(CFile* output, const unsigned char* buffer, unsigned long& count)
{
    if (output != nullptr && count > 0)
        output->Write(buffer, static_cast<UINT>(count));
    count = 0;
}

// Closes and deletes the output file, if any. A write error at close raises CFileException
// as one during the writing does: a file cut short must not pass for a whole one.
void CloseOutput(std::unique_ptr<CFile>& output)
{
    if (output)
        output->Close();
    output.reset();
}

} // namespace

// Looks through the rest of source for "begin " lines and extracts each embedded file
// under root (made when still null; marked with UU_MARKER_ENCODING). TRUE when root is to
// be the result of the run: at least one file completed, or a malformed "begin " line or
// an unopenable file stopped the scan. Seeks source to its start before returning FALSE
// and after a scan that ends normally.
BOOL CUnpacker::ScanForUUEncodedFiles(CStdioFile* source, const char* workDirectory, COutputBlock*& root, BOOL bExtract)
{
    std::unique_ptr<char[]> line(new char[UU_LINE_SIZE]);
    line[0] = '\0';
    BOOL found = FALSE;
    bool atLineStart = true;
    bodycodecs::CLineRun lines(source);

    for (;;)
    {
        // Only a line that starts with "." or "begin " matters; the others pass in place.
        const char* text = nullptr;
        size_t n = 0;
        if (lines.Peek(&text, &n) && !(atLineStart && n > 0 && (text[0] == '.' || text[0] == 'b')))
        {
            lines.Take();
            atLineStart = true;
            continue;
        }
        if (lines.ReadString(line.get()) == nullptr)
            break;
        const bool lineStart = atLineStart;
        atLineStart = EndsLine(line.get());
        if (!lineStart)
            continue;
        if (IsLoneDot(line.get()))
            break;
        if (line[0] == '.' || strncmp(line.get(), "begin ", 6) != 0)
            continue;

        // At the part limit the scan ends as at a lone ".".
        if (root != nullptr && root->GetChildBlockList() != nullptr &&
            root->GetChildBlockList()->GetCount() >= m_nMaxParts)
            break;
        if (root == nullptr)
            root = new COutputBlock();
        root->SetEncodeType(CMIMEPart::UU_MARKER_ENCODING);

        const int result = ExtractUUEncodedFile(source, workDirectory, line.get(), root, bExtract);
        lines.Forget();
        if (result == UU_MALFORMED)
            return TRUE;
        if (result == UU_STOP)
            break;
        found = TRUE;
        atLineStart = true;
    }

    source->Seek(0, CFile::begin);
    return found;
}

// Extracts the embedded file whose "begin " line is in line (a 2048-byte buffer that
// receives the following lines) into a new child of root. The child's suggested name is
// the name from the "begin " line; its data file is named like every decoded body (an
// existing file is never overwritten: a numbered name is taken instead). Returns 1 after
// the "end" line, 2 at the end of the input or on a data line that fails its check
// character, 0 for a malformed "begin " line or an output file that cannot be created.
int CUnpacker::ExtractUUEncodedFile(CStdioFile* source, const char* workDirectory, char* line, COutputBlock*& root,
                                    BOOL bExtract)
{
    COutputBlock* child = new COutputBlock();
    CString ignored;
    if (root->AddChildBlock(child, ignored) != CME_SUCCESS)
    {
        delete child;
        return UU_MALFORMED;
    }

    CString name;
    const bool wellFormed =
        bodycodecs::ParseUUBeginLine(line, bodycodecs::kScanBegin, name) == CME_SUCCESS && !name.IsEmpty();

    // An over-long "begin " line arrives in pieces; the rest of it is not data.
    bool lineEnded = EndsLine(line);
    while (!lineEnded && source->ReadString(line, LINE_READ_LIMIT) != nullptr)
        lineEnded = EndsLine(line);
    if (!wellFormed)
        return UU_MALFORMED;

    CString directory(workDirectory != nullptr ? workDirectory : "");
    CString path;
    g_FileUtilities.JoinPath(directory, name, path);
    // A path cut by the 260-byte field could name something other than a file in the work
    // directory; such a name is refused like a malformed line.
    if (path.GetLength() >= CBlock::PATH_SIZE)
        return UU_MALFORMED;

    child->SetSuggestName(name);
    child->SetDisposition(CMIMEPart::DISPOSE_ATTACHMENT);
    child->SetDataFile(path);

    std::unique_ptr<CFile> output;
    if (bExtract)
    {
        // The output name follows the rules of every decoded body in this directory (the
        // unpacker's own, but for a caller that names another one).
        const bool otherDirectory = directory != m_WorkDirectory;
        if (otherDirectory)
            std::swap(directory, m_WorkDirectory);
        child->SetDataFile("");
        try
        {
            output.reset(OpenBinaryOutputFile(child));
        }
        catch (CFileException&)
        {
            output.reset();
        }
        if (otherDirectory)
            std::swap(directory, m_WorkDirectory);
        if (!output)
            return UU_MALFORMED;
    }

    std::unique_ptr<unsigned char[]> buffer(new unsigned char[UU_DECODE_SIZE]);
    unsigned char* decoded = buffer.get();
    unsigned long count = 0;
    bool atLineStart = true;
    bodycodecs::CLineRun lines(source);
    for (;;)
    {
        // Buffered lines of the usual form decode in one walk.
        const char* text = nullptr;
        size_t n = 0;
        if (atLineStart && bExtract && lines.PeekRun(&text, &n))
        {
            size_t got = 0;
            const size_t used =
                bodycodecs::UUTextRun(text, n, lines.TextMode(), decoded + count, UU_DECODE_SIZE - count, &got);
            if (used > 0)
            {
                lines.TakeRun(used);
                count += got;
                if (count > UU_FLUSH_AT)
                    FlushDecoded(output.get(), decoded, count);
                continue;
            }
        }
        // A whole buffered line other than "end" decodes in place.
        if (lines.Peek(&text, &n) && !(atLineStart && n == 3 && memcmp(text, "end", 3) == 0))
        {
            lines.Take();
            const bool lineStart = atLineStart;
            atLineStart = true;
            if (!lineStart || !bExtract)
                continue;
            unsigned int got = 0;
            const unsigned int rc = bodycodecs::UUTextBytes(text, n, decoded + count, &got);
            count += got;
            if (rc == CME_UU_CHECKSUM)
            {
                FlushDecoded(output.get(), decoded, count);
                CloseOutput(output);
                return UU_STOP;
            }
            if (count > UU_FLUSH_AT)
                FlushDecoded(output.get(), decoded, count);
            continue;
        }
        if (lines.ReadString(line) == nullptr)
        {
            FlushDecoded(output.get(), decoded, count);
            CloseOutput(output);
            return UU_STOP;
        }
        // Only the first piece of an over-long line is a line; the decoder reads 79
        // characters of it at most.
        const bool lineStart = atLineStart;
        atLineStart = EndsLine(line);
        if (!lineStart)
            continue;
        if (IsEndLine(line))
        {
            FlushDecoded(output.get(), decoded, count);
            CloseOutput(output);
            return UU_COMPLETE;
        }
        if (!bExtract)
            continue;
        if (DecodeUULineToBuffer(line, decoded, &count) == 0)
        {
            FlushDecoded(output.get(), decoded, count);
            CloseOutput(output);
            return UU_STOP;
        }
        if (count > UU_FLUSH_AT)
            FlushDecoded(output.get(), decoded, count);
    }
}
