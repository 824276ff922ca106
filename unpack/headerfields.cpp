// The content header field parsers of CUnpacker: each takes one (possibly folded) field
// from the header work file and sets the matching fields of a part's block. Values longer
// than a block field are cut by the block's setters.
#include "mimeengine/mimeengine_flat.h"
#include "mimeengine/unpack/unpacker.h"
#include "platform/win32.h"
#include "resources/stringtable.h"
#include "unpack/parsetext.h"

#include <cstring>

namespace
{

// Size of the buffer that a decoded file name is put into before it reaches the block.
constexpr size_t kDecodedNameSize = 256;

using FieldParser = UINT (CUnpacker::*)(char**, char**, CWfxFile&, _UNFOLD_RC*, char*, COutputBlock*);

struct FieldEntry
{
    const char* name;
    FieldParser parser;
};

// Tried in this order; a name matches the start of a line over its own length, colon
// included, ignoring case.
const FieldEntry kFields[] = {
    {"Content-Type:", &CUnpacker::ParseContentType},
    {"Content-Transfer-Encoding:", &CUnpacker::ParseContentTransferEncoding},
    {"Content-Disposition:", &CUnpacker::ParseContentDisposition},
    {"Content-Name:", &CUnpacker::ParseContentName},
    {"Content-Id:", &CUnpacker::ParseContentId},
    {"Content-Description:", &CUnpacker::ParseContentDescription},
};

// The row (1 to 7) of a 32-byte name table whose name starts value, ignoring case; 0 when
// none does. This is a prefix test: "textual" finds "TEXT".
unsigned int MatchTableRow(const char (*table)[32], const char* value)
{
    for (unsigned int row = 1; row <= 7; ++row)
    {
        if (_strnicmp(value, table[row], strlen(table[row])) == 0)
            return row;
    }
    return 0;
}

// A file name parameter value, unquoted, with B-encoded words decoded, into name
// (kDecodedNameSize bytes).
void DecodeNameValue(const CString& value, char* name)
{
    DecodeBase64StringN(value.GetString(), name, kDecodedNameSize);
}

void DeleteOptions(CStringList* list)
{
    if (list != nullptr)
    {
        list->RemoveAll();
        delete list;
    }
}

} // namespace

UINT CUnpacker::ParseHeaderField(char** line, char** readAhead, CWfxFile& file, _UNFOLD_RC* unfold, char* value,
                                 COutputBlock* block)
{
    for (const FieldEntry& field : kFields)
    {
        if (_strnicmp(*line, field.name, strlen(field.name)) == 0)
            return (this->*field.parser)(line, readAhead, file, unfold, value, block);
    }
    return 0;
}

UINT CUnpacker::GetFieldValue(char** line, char** readAhead, CWfxFile& file, _UNFOLD_RC* unfold, char* value)
{
    *unfold = m_ParseUtilities.UnfoldString(*line, *readAhead, file, nullptr);
    if (*unfold == UNFOLD_TOO_LONG)
        return IDS_BAD_CONCATENATION;
    // A line longer than one read has no line end in the first piece.
    char* lineEnd = strchr(*line, '\n');
    if (lineEnd == nullptr)
        return IDS_LINE_TOO_LONG;
    *lineEnd = '\0';

    // The value keeps white space before the line end and the white space that began each
    // continuation line. A line without a colon (not one of the fields) has no value.
    const char* colon = strchr(*line, ':');
    const char* start = colon != nullptr ? parsetext::SkipWhite(colon + 1) : *line + strlen(*line);
    CopyBlockField(value, LINE_BUFFER_SIZE, start);

    if (*unfold == UNFOLD_NEXT_LINE || *unfold == UNFOLD_END_OF_FILE)
        m_ParseUtilities.SwitchPointers(*line, *readAhead);
    return 0;
}

UINT CUnpacker::ParseContentType(char** line, char** readAhead, CWfxFile& file, _UNFOLD_RC* unfold, char* value,
                                 COutputBlock* block)
{
    const UINT rc = GetFieldValue(line, readAhead, file, unfold, value);
    if (rc != 0)
        return rc;
    const auto type = static_cast<CMIMEPart::_CONTENT_TYPE>(MatchTableRow(szContType, value));
    if (block != nullptr)
        block->SetContentType(type);

    const char* slash = strchr(value, '/');
    if (slash == nullptr)
        return IDS_NO_SUBTYPE;
    const char* subType = parsetext::SkipWhite(slash + 1);
    const char* subTypeEnd = subType;
    while (*subTypeEnd != '\0' && *subTypeEnd != ';' && !parsetext::IsWhite(*subTypeEnd))
        ++subTypeEnd;
    if (block != nullptr)
        block->SetSubTypeString(CString(subType, static_cast<int>(subTypeEnd - subType)).GetString());

    // Parameters are read only when the subtype is followed directly by ";": after white
    // space ("text/plain ; charset=x") they are not, and the previous ones stay.
    if (*subTypeEnd != ';' || block == nullptr)
        return 0;
    const char* parameters = parsetext::SkipWhite(subTypeEnd + 1);
    block->SetParameters(parameters);
    if (*parameters == '\0')
        return 0;

    // Only the first NAME= option is looked at, and only while no name has been found yet
    // (a Content-Name seen earlier wins; a Content-Disposition filename replaces it later).
    CStringList* options = m_ParseUtilities.ExtractOptions(CString(parameters), 1);
    for (POSITION pos = options != nullptr ? options->GetHeadPosition() : nullptr; pos != nullptr;)
    {
        const CString& option = options->GetNext(pos);
        if (_strnicmp(option.GetString(), "NAME=", 5) != 0)
            continue;
        if (block->GetSuggestName()[0] == '\0')
        {
            CString name;
            m_ParseUtilities.ExtractStringOrQuotedString(option, 5, name);
            char decoded[kDecodedNameSize];
            DecodeNameValue(name, decoded);
            block->SetSuggestName(decoded);
        }
        break;
    }
    DeleteOptions(options);
    return 0;
}

UINT CUnpacker::ParseContentTransferEncoding(char** line, char** readAhead, CWfxFile& file, _UNFOLD_RC* unfold,
                                             char* value, COutputBlock* block)
{
    const UINT rc = GetFieldValue(line, readAhead, file, unfold, value);
    if (rc != 0)
        return rc;
    if (block != nullptr)
        block->SetEncodeType(static_cast<CMIMEPart::_ENCODE_TYPE>(MatchTableRow(szEncodeType, value)));
    return 0;
}

UINT CUnpacker::ParseContentDisposition(char** line, char** readAhead, CWfxFile& file, _UNFOLD_RC* unfold, char* value,
                                        COutputBlock* block)
{
    const UINT rc = GetFieldValue(line, readAhead, file, unfold, value);
    if (rc != 0 || block == nullptr)
        return rc;
    // Anything but "inline" is treated as an attachment, unknown dispositions included.
    block->SetDisposition(_strnicmp(value, "INLINE", 6) == 0 ? CMIMEPart::DISPOSE_INLINE
                                                             : CMIMEPart::DISPOSE_ATTACHMENT);
    const char* semicolon = strchr(value, ';');
    if (semicolon == nullptr)
        return 0;

    // Every filename= option replaces the name found so far, from Content-Type as well.
    CStringList* options = m_ParseUtilities.ExtractOptions(CString(parsetext::SkipWhite(semicolon + 1)), 1);
    for (POSITION pos = options != nullptr ? options->GetHeadPosition() : nullptr; pos != nullptr;)
    {
        const CString& option = options->GetNext(pos);
        if (_strnicmp(option.GetString(), "filename=", 9) != 0)
            continue;
        CString name;
        m_ParseUtilities.ExtractStringOrQuotedString(option, 9, name);
        char decoded[kDecodedNameSize];
        DecodeNameValue(name, decoded);
        block->SetSuggestName(decoded);
    }
    DeleteOptions(options);
    return 0;
}

UINT CUnpacker::ParseContentName(char** line, char** readAhead, CWfxFile& file, _UNFOLD_RC* unfold, char* value,
                                 COutputBlock* block)
{
    const UINT rc = GetFieldValue(line, readAhead, file, unfold, value);
    if (rc != 0 || block == nullptr)
        return rc;
    if (block->GetSuggestName()[0] == '\0')
        block->SetSuggestName(value);
    return 0;
}

UINT CUnpacker::ParseContentId(char** line, char** readAhead, CWfxFile& file, _UNFOLD_RC* unfold, char* value,
                               COutputBlock* block)
{
    const UINT rc = GetFieldValue(line, readAhead, file, unfold, value);
    if (rc != 0 || block == nullptr)
        return rc;
    if (block->GetContentId()[0] == '\0')
        block->SetContentId(value);
    return 0;
}

UINT CUnpacker::ParseContentDescription(char** line, char** readAhead, CWfxFile& file, _UNFOLD_RC* unfold, char* value,
                                        COutputBlock* block)
{
    const UINT rc = GetFieldValue(line, readAhead, file, unfold, value);
    if (rc != 0 || block == nullptr)
        return rc;
    if (block->GetContentDesc()[0] == '\0')
        block->SetContentDesc(value);
    return 0;
}
