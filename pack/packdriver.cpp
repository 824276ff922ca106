// CPacker::Pack, the block writer and the boundary maker: the layout of a composed message.
#include "mimeengine/pack/packer.h"
#include "platform/crt.h"
#include "platform/fileutilities.h"
#include "platform/win32.h"
#include "resources/stringtable.h"

#include <cstring>
#include <string>

namespace
{

// Boundary parameters may hold at most 70 characters.
constexpr int kMaxBoundaryLength = 70;

// Sets the first-part flag for one tree walk and clears it again however the walk ends,
// also when a file exception passes.
class FirstPartScope
{
public:
    explicit FirstPartScope(BOOL& flag) : m_flag(flag) { m_flag = TRUE; }
    ~FirstPartScope() { m_flag = FALSE; }
    FirstPartScope(const FirstPartScope&) = delete;
    FirstPartScope& operator=(const FirstPartScope&) = delete;

private:
    BOOL& m_flag;
};

void WriteText(CFile& output, const CString& text)
{
    output.Write(text.GetString(), static_cast<UINT>(text.GetLength()));
}

void WriteResource(CFile& output, UINT nID)
{
    CString text;
    text.LoadString(nID);
    WriteText(output, text);
}

void FormatFileMessage(CString& errorString, UINT nID, const char* path)
{
    CString format;
    format.LoadString(nID);
    errorString.Format(format, path);
}

// Copies path into a caller's buffer of size bytes, cut to fit, always NUL-terminated.
void ReportPath(char* buffer, unsigned long size, const CString& path)
{
    if (buffer == nullptr || size == 0)
        return;
    size_t length = static_cast<size_t>(path.GetLength());
    if (length > size - 1)
        length = size - 1;
    std::memcpy(buffer, path.GetString(), length);
    buffer[length] = '\0';
}

} // namespace

// Writes the message for root into outputPath, or into a new ".MME" file of the temporary
// directory when outputPath is empty (its name is copied back into outputPath when size, the
// size of that buffer, is not 0). Returns CME_SUCCESS or the code of the first failing step,
// with its message in errorString. A null root is CME_INVALID_PARAMETER and opens nothing.
_CME_RC CPacker::Pack(CInputBlock* root, char* outputPath, unsigned long size, CString& errorString)
{
    if (root == nullptr)
        return CME_INVALID_PARAMETER;

    CString path;
    CFile output;
    const UINT outputFlags = CFile::modeCreate | CFile::modeReadWrite | CFile::shareExclusive;
    if (outputPath == nullptr || outputPath[0] == '\0')
    {
        char tempDirectory[MAX_PATH];
        if (GetTempPathA(MAX_PATH, tempDirectory) == 0)
            return CME_OUTPUT_FILE_ERROR;
        // The temporary directory is shared: the name is taken by creating the file. The
        // name is reported even when the file could not be created under it.
        bool created = g_FileUtilities.CreateWorkFile(CString(tempDirectory), "MME", output, outputFlags, path);
        if (path.IsEmpty())
            return CME_OUTPUT_FILE_ERROR;
        ReportPath(outputPath, size, path);
        if (!created)
        {
            FormatFileMessage(errorString, IDS_OUTPUT_FILE_ACCESS, path);
            return CME_OUTPUT_FILE_ERROR;
        }
    }
    else
    {
        path = outputPath;
        if (!output.Open(path, outputFlags))
        {
            FormatFileMessage(errorString, IDS_OUTPUT_FILE_ACCESS, path);
            return CME_OUTPUT_FILE_ERROR;
        }
    }
    WriteResource(output, IDS_MIME_VERSION);

    _CME_RC rc;
    {
        FirstPartScope firstPart(m_FirstPart);
        rc = WriteBlock(root, output, errorString);
    }
    output.Close();
    return rc;
}

// Writes one block: generated header lines, the caller's header file, the empty line, and
// then the body, or for a multipart block the preamble and every child between boundary
// lines. The first failure is returned at once and nothing more is written.
_CME_RC CPacker::WriteBlock(CInputBlock* block, CFile& output, CString& errorString)
{
    CString boundary;
    if (block->GetContentType() == CMIMEPart::CONTENT_MULTIPART)
        MakeBoundary(boundary);

    if (block->GetGenerateHeader())
        WriteHeader(block, output, boundary);

    const char* headerFile = block->GetHeaderFile();
    if (headerFile[0] != '\0')
    {
        CFile header;
        if (!header.Open(headerFile, CFile::modeRead | CFile::shareExclusive))
        {
            FormatFileMessage(errorString, IDS_HEADER_FILE_OPEN, headerFile);
            return CME_HEADER_FILE_ERROR;
        }
        CopyData(header, output);
        header.Close();
    }
    output.Write("\r\n", 2);

    // WriteHeader may have typed an untyped block, but never as multipart, so a multipart
    // block here always has the boundary made above.
    if (block->GetContentType() != CMIMEPart::CONTENT_MULTIPART)
        return WriteBody(block, output, errorString);

    WriteResource(output, IDS_PREAMBLE);
    const CString delimiter = "--" + boundary;
    // A multipart without children gets its preamble and closing delimiter only.
    if (CObList* children = block->GetChildBlockList())
    {
        for (POSITION pos = children->GetHeadPosition(); pos != nullptr;)
        {
            CInputBlock* child = dynamic_cast<CInputBlock*>(children->GetNext(pos));
            // A composition tree is made of input blocks only.
            if (child == nullptr)
                return CME_INVALID_PARAMETER;
            WriteText(output, delimiter + "\r\n");
            const _CME_RC rc = WriteBlock(child, output, errorString);
            if (rc != CME_SUCCESS)
                return rc;
        }
    }
    WriteText(output, delimiter + "--\r\n\r\n");
    return CME_SUCCESS;
}

// A fresh boundary: the calendar time, "_ML=_MARIGOLD:" and a random number of at least five
// digits, at most 70 characters. The time is written in signed decimal from all its 64 bits:
// a long has 32 bits on Windows, and would turn the seconds past January 2038 negative.
void CPacker::MakeBoundary(CString& boundary)
{
    char text[1025];
    const std::string seconds = std::to_string(PlatformTime());
    const int length = wsprintfA(text, "%s_ML=_MARIGOLD:%05d", seconds.c_str(), PlatformRand());
    boundary = CString(text, length < kMaxBoundaryLength ? (length < 0 ? 0 : length) : kMaxBoundaryLength);
}
