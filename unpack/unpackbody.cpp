// Parsing of a multipart body that comes without its message header: the body's second
// line gives the boundary of a multipart/mixed header made up for it.
#include "mimeengine/unpack/unpacker.h"
#include "platform/win32.h"
#include "unpack/unpackrun.h"

#include <cstring>

namespace
{

// The boundary B of a delimiter line: the line without its line end and without its first
// two characters ("--"); empty when nothing is left. B is cut so that the parameter text
// boundary="B" fits the 256-byte Parameters field with both quotes.
CString BoundaryFromDelimiterLine(const char* line)
{
    size_t n = strlen(line);
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r'))
        --n;
    if (n <= 2)
        return CString();
    const size_t room = CBlock::PARAMETERS_SIZE - 1 - strlen("boundary=\"\"");
    const size_t length = n - 2 < room ? n - 2 : room;
    return CString(line + 2, static_cast<int>(length));
}

} // namespace

// Parses source, a multipart body without message header, under a multipart/mixed root
// whose boundary comes from the body's second line. Results and ownership as for Unpack;
// there is no uuencode fallback.
COutputBlock* CUnpacker::UnpackBody(CString& source, const char* workDirectory, BOOL bExtract, _CME_RC* rc,
                                    CString& errorText)
{
    CWfxFile file(source, unpackrun::kSourceOpenFlags, FALSE, FALSE);
    unpackrun::LinePair lines;
    if (!unpackrun::BeginRun(*this, workDirectory, file, source, lines, rc, errorText))
        return nullptr;

    COutputBlock* root = nullptr;
    unpackrun::TreeGuard tree(root);
    *rc = ReadBodyHeader(&lines.line, &lines.readAhead, file, source, errorText, &root);
    if (*rc != CME_SUCCESS)
        return nullptr;
    m_ContentTypeMap.DeriveFileExtension(root);
    *rc = ParsePart(&lines.line, &lines.readAhead, file, source, errorText, root, bExtract);
    return *rc == CME_SUCCESS ? tree.Release() : nullptr;
}

// Makes the root block of a body without header: MULTIPART "MIXED" with the parameter
// text boundary="B", B from the file's second line, and an empty header work file. Returns
// 0 with the file positioned at its start, 9 when the header work file cannot be created,
// 11 when the file has fewer than two lines (the work file is then removed again), 2 when
// the block cannot be allocated.
_CME_RC CUnpacker::ReadBodyHeader(char** line, char** readAhead, CWfxFile& file, const char* source, CString& errorText,
                                  COutputBlock** root)
{
    (void)line;
    // On the stack, so that a read error raised below still closes it.
    CWfxFile header(CString(), unpackrun::kHeaderFileFlags, FALSE, FALSE);
    if (!unpackrun::CreateHeaderFile(*this, header, errorText))
        return CME_HEADER_FILE_ERROR;

    _CME_RC result = CME_SUCCESS;
    bool lineEnded = false;
    // The first line is dropped; only the first piece of it is needed to reach the second.
    if (file.ReadString(*readAhead, LINE_READ_LIMIT) == nullptr)
        result = CME_INVALID_HEADER;
    else
    {
        lineEnded = strchr(*readAhead, '\n') != nullptr;
        // An over-long first line arrives in pieces; the second line starts after all of them.
        while (!lineEnded && file.ReadString(*readAhead, LINE_READ_LIMIT) != nullptr)
            lineEnded = strchr(*readAhead, '\n') != nullptr;
        if (!lineEnded || file.ReadString(*readAhead, LINE_READ_LIMIT) == nullptr)
            result = CME_INVALID_HEADER;
    }

    if (result == CME_SUCCESS && *root == nullptr)
    {
        *root = new (std::nothrow) COutputBlock();
        if (*root == nullptr)
            result = CME_NO_MEMORY;
    }
    if (result == CME_SUCCESS)
    {
        file.Seek(0, CFile::begin);
        COutputBlock* block = *root;
        block->SetHeaderFile(header.GetPath());
        block->SetBodyPosition(unpackrun::RecordedBodyPosition(file.GetPosition()));
        block->SetOrigFileName(source);
        block->SetContentType(CMIMEPart::CONTENT_MULTIPART);
        block->SetSubTypeString("MIXED");
        CString parameters;
        parameters.Format("boundary=\"%s\"", BoundaryFromDelimiterLine(*readAhead).GetString());
        block->SetParameters(parameters);
    }

    header.Close();
    if (result != CME_SUCCESS)
        DeleteFileA(header.GetPath());
    return result;
}
