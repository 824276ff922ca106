// The Unpack worker and the recursive part walk: a message file becomes a tree of output
// blocks in file order, with every leaf body decoded into the work directory.
#include "mimeengine/extract/boundary.h"
#include "mimeengine/unpack/unpacker.h"
#include "unpack/unpackrun.h"

namespace
{

// Reads the next line (or the next piece of an over-long line) into line; false at the end.
bool ReadLine(CWfxFile& file, char* line)
{
    return file.ReadString(line, LINE_READ_LIMIT) != nullptr;
}

// Counts one level of composite nesting for as long as the walk is inside it.
class NestingLevel
{
public:
    explicit NestingLevel(int& depth) : m_depth(depth) { ++m_depth; }
    ~NestingLevel() { --m_depth; }
    NestingLevel(const NestingLevel&) = delete;
    NestingLevel& operator=(const NestingLevel&) = delete;

private:
    int& m_depth;
};

// Passes over the body of a composite part that is nested too deeply to be entered: lines
// are read up to the first delimiter of an enclosing multipart, which stays in line, or to
// the end of the input. Nothing is written and no child is made.
_CME_RC SkipBody(CWfxFile& file, char* line, COutputBlock* block)
{
    COutputBlock* parent = static_cast<COutputBlock*>(block->GetParentBlock());
    while (ReadLine(file, line))
        if (parent != nullptr && IsBoundaryLine(line, parent) != BOUNDARY_NONE)
            break;
    return CME_SUCCESS;
}

} // namespace

// Parses source (a message with its header) into a tree; the caller owns the result and
// frees it with FreeBlocks. *rc receives 0 or the failure code, errorText the message of
// the failure where one exists. A top-level header that is not MIME sends the file to the
// uuencode scan, whose tree is returned together with the header's failure code.
COutputBlock* CUnpacker::Unpack(CString& source, const char* workDirectory, BOOL bExtract, _CME_RC* rc,
                                CString& errorText)
{
    CWfxFile file(source, unpackrun::kSourceOpenFlags, FALSE, FALSE);
    unpackrun::LinePair lines;
    if (!unpackrun::BeginRun(*this, workDirectory, file, source, lines, rc, errorText))
        return nullptr;

    COutputBlock* root = nullptr;
    unpackrun::TreeGuard tree(root);
    *rc = ReadHeader(&lines.line, &lines.readAhead, file, source, errorText, &root, TRUE);
    if (*rc != CME_SUCCESS)
    {
        // Not a MIME message: the tree of the uuencoded files it holds, if any, comes back
        // together with the header's failure code.
        if (ScanForUUEncodedFiles(&file, m_WorkDirectory, root, bExtract))
            return tree.Release();
        return nullptr;
    }
    m_ContentTypeMap.DeriveFileExtension(root);
    *rc = ParsePart(&lines.line, &lines.readAhead, file, source, errorText, root, bExtract);
    return *rc == CME_SUCCESS ? tree.Release() : nullptr;
}

namespace
{

// Walks the body of a multipart block: every delimiter of this block starts a child whose
// header is read and attached at once, so the children keep file order. With bExtract the
// child is parsed in turn; without it only the headers of the direct children are read.
// Ends at the close delimiter, at a delimiter of an enclosing multipart (left in *line for
// the enclosing walk) or at the end of the input.
_CME_RC WalkMultipart(CUnpacker& unpacker, char** line, char** readAhead, CWfxFile& file, const char* source,
                      CString& errorText, COutputBlock* block, BOOL bExtract)
{
    _CME_RC rc = unpacker.ParseMultipart(block);
    if (rc != CME_SUCCESS)
        return rc;
    if (!ReadLine(file, *line))
        return CME_SUCCESS;

    for (;;)
    {
        const int boundary = IsBoundaryLine(*line, block);
        if (boundary != BOUNDARY_NONE && boundary != BOUNDARY_PART)
            return CME_SUCCESS;
        // Past the part limit a delimiter starts nothing: its part is passed over like the
        // text between parts, up to the close delimiter or one of an enclosing multipart.
        if (boundary == BOUNDARY_NONE || unpacker.m_nParts >= unpacker.m_nMaxParts)
        {
            // Preamble, epilogue or text between parts: not kept.
            if (!ReadLine(file, *line))
                return CME_SUCCESS;
            continue;
        }

        const ULONGLONG atDelimiter = file.GetPosition();
        // Freed until it is attached, also when a file exception passes.
        COutputBlock* unattached = nullptr;
        unpackrun::TreeGuard guard(unattached);
        rc = unpacker.ReadHeader(line, readAhead, file, source, errorText, &unattached, FALSE);
        if (rc != CME_SUCCESS)
            return rc;
        rc = block->AddChildBlock(unattached, errorText);
        if (rc != CME_SUCCESS)
            return rc;
        COutputBlock* child = guard.Release();
        ++unpacker.m_nParts;

        if (bExtract)
        {
            rc = unpacker.ParsePart(line, readAhead, file, source, errorText, child, bExtract);
            if (rc != CME_SUCCESS)
                return rc;
            // Nothing was read since the delimiter: the input ended there, and *line
            // still holds that delimiter.
            if (file.GetPosition() == atDelimiter)
                return CME_SUCCESS;
            // Go on with the line the child's parsing stopped at (normally the delimiter
            // that ended it).
            continue;
        }

        if (child->GetEncodeType() == CMIMEPart::ENCODE_BINARY)
        {
            // A binary body is not read as lines: skip it by position to the delimiter that
            // ends it as seen from the child, writing nothing. An unchanged position is
            // either an empty body (its delimiter is the next line) or a body without a
            // delimiter; either way the walk reads on from there, as after extraction.
            ULONGLONG position = file.GetPosition();
            rc = unpacker.SkipBinaryBody(file.GetPath(), &position, child);
            if (rc != CME_SUCCESS)
                return rc;
            file.Seek(static_cast<LONGLONG>(position), CFile::begin);
        }
        if (!ReadLine(file, *line))
            return CME_SUCCESS;
    }
}

// Handles the body of a message block: a subtype other than rfc822, partial or
// external-body has made it an application leaf; an rfc822 block gets the embedded
// message's root as its one child. A failure inside the embedded message keeps the tree as
// far as it got and does not fail the enclosing part.
_CME_RC WalkMessage(CUnpacker& unpacker, char** line, char** readAhead, CWfxFile& file, const char* source,
                    CString& errorText, COutputBlock* block, BOOL bExtract)
{
    int leaf = 0;
    _CME_RC rc = unpacker.ParseMessage(block, &leaf);
    if (rc != CME_SUCCESS)
        return rc;
    // A re-typed part is a leaf from now on; its extraction gives it the row of its
    // application subtype, which must not be taken for rfc822 afterwards.
    if (leaf != 0)
        return bExtract ? unpacker.ExtractLeafBody(block, &file, line) : CME_SUCCESS;
    if (block->GetSubTypeIndex() != 1)
        return CME_SUCCESS;
    // Past the part limit the embedded message is not read; the enclosing walk passes over
    // its lines.
    if (unpacker.m_nParts >= unpacker.m_nMaxParts)
        return CME_SUCCESS;

    COutputBlock* unattached = nullptr;
    unpackrun::TreeGuard guard(unattached);
    rc = unpacker.ReadHeader(line, readAhead, file, source, errorText, &unattached, FALSE);
    if (rc != CME_SUCCESS)
        return rc;
    if (block->AddChildBlock(unattached, errorText) != CME_SUCCESS)
        return CME_SUCCESS;
    COutputBlock* child = guard.Release();
    ++unpacker.m_nParts;
    if (bExtract)
        unpacker.ParsePart(line, readAhead, file, source, errorText, child, bExtract);
    return CME_SUCCESS;
}

} // namespace

// Parses the body of block: the children of a composite part, the body file of a leaf
// (with bExtract). A block is parsed once; a composite part nested deeper than
// MAX_NESTING_DEPTH is kept with its header but its body is passed over unparsed.
_CME_RC CUnpacker::ParsePart(char** line, char** readAhead, CWfxFile& file, const char* source, CString& errorText,
                             COutputBlock* block, BOOL bExtract)
{
    if (block->GetParseChildFlag())
        return CME_SUCCESS;
    block->SetParseChildFlag(TRUE);

    if (!block->IsCompositePart())
        return bExtract ? ExtractLeafBody(block, &file, line) : CME_SUCCESS;

    if (m_nDepth >= MAX_NESTING_DEPTH)
        return SkipBody(file, *line, block);
    NestingLevel level(m_nDepth);

    if (block->GetContentType() == CMIMEPart::CONTENT_MULTIPART)
        return WalkMultipart(*this, line, readAhead, file, source, errorText, block, bExtract);
    return WalkMessage(*this, line, readAhead, file, source, errorText, block, bExtract);
}
