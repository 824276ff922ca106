// CPacker::WriteHeader: the generated MIME header lines of one part.
#include "codec/contenttypetable.h"
#include "mimeengine/pack/packer.h"
#include "platform/win32.h"

#include <cstring>
#include <initializer_list>

namespace
{

// Parameters after the type each start a continuation line.
constexpr char kParameterSeparator[] = ";\r\n\t";

const char* MainTypeName(CMIMEPart::_CONTENT_TYPE type)
{
    return szContType[type <= CMIMEPart::CONTENT_APPLICATION ? type : CMIMEPart::CONTENT_UNKNOWN];
}

// The Content-Transfer-Encoding value; every encoding without a name of its own, the
// uuencode forms included, travels as "binary".
const char* EncodingName(CMIMEPart::_ENCODE_TYPE encoding)
{
    switch (encoding)
    {
        case CMIMEPart::ENCODE_7BIT:
            return "7bit";
        case CMIMEPart::ENCODE_QUOTED_PRINTABLE:
            return "quoted-printable";
        case CMIMEPart::ENCODE_BASE64:
            return "base64";
        case CMIMEPart::ENCODE_8BIT:
            return "8bit";
        default:
            return "binary";
    }
}

bool IsComposite(CMIMEPart::_CONTENT_TYPE type)
{
    return type == CMIMEPart::CONTENT_MESSAGE || type == CMIMEPart::CONTENT_MULTIPART;
}

// A name travels inside header lines: a CR or LF in it (a file may well be called so)
// would end the line and let the rest of the name stand as a header field of its own, and
// other control characters have no place in a header either. Each becomes "_".
CString HeaderSafeName(const CString& name)
{
    CString safe(name);
    for (int i = 0; i < safe.GetLength(); ++i)
    {
        const unsigned char c = static_cast<unsigned char>(safe[i]);
        if ((c < 0x20 && c != '\t') || c == 0x7F)
            safe.SetAt(i, '_');
    }
    return safe;
}

// Writes the pieces one after the other: no line is put together in memory first.
void WriteText(CFile& output, std::initializer_list<const char*> pieces)
{
    for (const char* piece : pieces)
        output.Write(piece, static_cast<UINT>(std::strlen(piece)));
}

} // namespace

// Writes the Content-Type line of the block and, for a leaf, its Content-Transfer-Encoding
// line and (unless it is the unnamed first part) its Content-Disposition line. An untyped
// block gets the type derived from its file name, and that type, subtype and encoding are
// stored into the block so that the body is encoded to match.
void CPacker::WriteHeader(CInputBlock* block, CFile& output, CString boundary)
{
    const CMIMEPart::_CONTENT_TYPE givenType = block->GetContentType();
    CString suggestName(block->GetSuggestName());
    bool named = false;

    if (!IsComposite(givenType))
    {
        if (suggestName.IsEmpty())
        {
            char name[_MAX_FNAME];
            char extension[_MAX_EXT];
            _splitpath(block->GetDataFile(), nullptr, nullptr, name, extension);
            suggestName = CString(name) + extension;
        }
        suggestName = HeaderSafeName(suggestName);
        // In message mode the first generated leaf is the message text, not an attachment.
        named = !(m_FirstPart && m_EncodeMode == ENCODE_MODE_MESSAGE);
        m_FirstPart = FALSE;
    }

    if (givenType == CMIMEPart::CONTENT_UNKNOWN)
    {
        const char* source = suggestName.IsEmpty() ? block->GetDataFile() : suggestName.GetString();
        m_ContentTypeMap.DeriveContentType(source, block);
        // A database may map an extension to a multipart or message type. This part has no
        // boundary and no children, only a data file, so it stays a leaf: it is typed by the
        // built-in table instead (APPLICATION/octet-stream in base64 for any extension the
        // table does not know), and its bytes travel opaque.
        if (block->IsCompositePart())
            DeriveContentTypeFromTable(source, block);
    }

    const CMIMEPart::_CONTENT_TYPE type = block->GetContentType();
    const char* subType = block->GetSubTypeString();
    if (type == CMIMEPart::CONTENT_MULTIPART && subType[0] == '\0')
        subType = "mixed";
    // The caller's parameters, then the name of a leaf, then the boundary of a multipart.
    WriteText(output, {"Content-Type: ", MainTypeName(type), "/", subType});
    if (block->GetParameters()[0] != '\0')
        WriteText(output, {kParameterSeparator, block->GetParameters()});
    if (named)
        WriteText(output, {kParameterSeparator, "name=\"", suggestName, "\""});
    if (type == CMIMEPart::CONTENT_MULTIPART)
        WriteText(output, {kParameterSeparator, "boundary=\"", boundary, "\""});
    WriteText(output, {"\r\n"});

    if (IsComposite(type))
        return;
    WriteText(output, {"Content-Transfer-Encoding: ", EncodingName(block->GetEncodeType()), "\r\n"});
    if (named && !suggestName.IsEmpty())
        WriteText(output, {"Content-Disposition: attachment; filename=", suggestName, "\r\n"});
}
