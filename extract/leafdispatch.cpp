// Leaf body dispatch: settles the type of a leaf part, reads its name and charset
// parameters and hands the body to the decoder of its transfer encoding.
#include "codec/charset.h"
#include "extract/bodycodecs.h"
#include "mimeengine/mimeengine_flat.h"
#include "mimeengine/unpack/unpacker.h"
#include "model/nametables.h"
#include "platform/win32.h"

#include <cstring>
#include <memory>
#include <vector>

namespace
{

// Row (from 1) of the first name of table that begins subtype, ignoring case; 0 when
// none does. Names match as prefixes, so "jpeg-x" is a JPEG.
template <size_t Rows> unsigned int MatchSubType(const char (&table)[Rows][NAME_ROW_SIZE], const char* subtype)
{
    for (unsigned int row = 1; row < Rows; ++row)
        if (_strnicmp(table[row], subtype, strlen(table[row])) == 0)
            return row;
    return 0;
}

} // namespace

namespace bodycodecs
{

void SetNameFromParameter(const CString& value, COutputBlock* block)
{
    // Decoding encoded words never makes a text longer, so twice the value's size is room
    // enough whatever the decoder does with text it does not recognise.
    std::vector<char> source(value.GetString(), value.GetString() + value.GetLength() + 1);
    std::vector<char> decoded(2 * source.size() + 256, '\0');
    DecodeBase64String(source.data(), decoded.data());
    block->SetSuggestName(decoded.data());
}

} // namespace bodycodecs

// Extracts one leaf body. A part whose transfer encoding was not recognised is kept as
// opaque application data; so is a part of unknown type. CME_NOT_LEAF for a composite.
_CME_RC CUnpacker::ExtractLeafBody(COutputBlock* block, CStdioFile* source, char** line)
{
    if (block->GetEncodeType() == CMIMEPart::ENCODE_UNKNOWN)
    {
        block->SetContentType(CMIMEPart::CONTENT_APPLICATION);
        block->SetSubTypeString("OCTET-STREAM");
    }
    switch (block->GetContentType())
    {
        case CMIMEPart::CONTENT_TEXT:
            return ExtractText(block, line, source);
        case CMIMEPart::CONTENT_MESSAGE:
        case CMIMEPart::CONTENT_MULTIPART:
            return CME_NOT_LEAF;
        case CMIMEPart::CONTENT_IMAGE:
            return ExtractImage(block, line, source);
        case CMIMEPart::CONTENT_AUDIO:
            return ExtractAudio(block, line, source);
        case CMIMEPart::CONTENT_VIDEO:
            return ExtractVideo(block, line, source);
        case CMIMEPart::CONTENT_APPLICATION:
            return ExtractApplication(block, line, source);
        default:
            block->SetContentType(CMIMEPart::CONTENT_APPLICATION);
            block->SetSubTypeString("Octet-stream");
            return ExtractApplication(block, line, source);
    }
}

// Text: an unknown subtype is read as plain text.
_CME_RC CUnpacker::ExtractText(COutputBlock* block, char** line, CStdioFile* source)
{
    unsigned int row = MatchSubType(szTextSubType, block->GetSubTypeString());
    block->SetSubTypeIndex(row != 0 ? row : 1);
    _CME_RC rc = ParseCharsetParameter(block, line, source);
    // An unknown charset has already had the part extracted as application data.
    if (rc != CME_SUCCESS || block->GetContentType() == CMIMEPart::CONTENT_APPLICATION)
        return rc;
    return DecodeBody(block, line, source);
}

// Reads the charset and the name of a parsed leaf part from its Content-Type parameters.
// A part without parameters is US-ASCII, and so is a text part without a charset. A
// charset outside the table makes the part application/octet-stream, which is extracted
// here; the result is then that extraction's. CME_INVALID_CHARSET for "iso-8859-" without
// a part number 1 to 9 (the remaining options are still read).
_CME_RC CUnpacker::ParseCharsetParameter(COutputBlock* block, char** line, CStdioFile* source)
{
    std::unique_ptr<CStringList> options(m_ParseUtilities.ExtractOptions(CString(block->GetParameters()), TRUE));
    if (options == nullptr)
    {
        block->SetCharType(CMIMEPart::CHAR_US_ASCII);
        block->SetCharSetName("US-ASCII");
        return CME_SUCCESS;
    }

    _CME_RC rc = CME_SUCCESS;
    bool unrecognised = false;
    for (POSITION pos = options->GetHeadPosition(); pos != nullptr;)
    {
        const CString& option = options->GetNext(pos);
        if (_strnicmp(option, "charset=", 8) == 0)
        {
            CString value;
            m_ParseUtilities.ExtractStringOrQuotedString(option, 8, value);
            block->SetCharSetName(value);
            BOOL recognised = TRUE;
            BOOL invalidIso = FALSE;
            block->SetCharType(LookupCharType(value, &recognised, &invalidIso));
            unrecognised = recognised == FALSE;
            if (invalidIso)
                rc = CME_INVALID_CHARSET;
        }
        else if (_strnicmp(option, "NAME=", 5) == 0 && block->GetSuggestName()[0] == '\0')
        {
            CString value;
            m_ParseUtilities.ExtractStringOrQuotedString(option, 5, value);
            bodycodecs::SetNameFromParameter(value, block);
        }
    }
    options->RemoveAll();
    options.reset();

    if (unrecognised)
    {
        block->SetContentType(CMIMEPart::CONTENT_APPLICATION);
        block->SetSubTypeIndex(1);
        return ExtractApplication(block, line, source);
    }
    if (block->GetCharType() == CMIMEPart::CHAR_UNKNOWN && block->GetContentType() == CMIMEPart::CONTENT_TEXT &&
        block->GetCharSetName()[0] == '\0')
    {
        block->SetCharType(CMIMEPart::CHAR_US_ASCII);
        block->SetCharSetName("US-ASCII");
    }
    return rc;
}

namespace
{

// The image, audio and video handlers: a known subtype runs the charset step and is
// decoded; an unknown one becomes application/octet-stream.
template <size_t Rows>
_CME_RC ExtractMedia(CUnpacker& unpacker, const char (&table)[Rows][NAME_ROW_SIZE], COutputBlock* block, char** line,
                     CStdioFile* source)
{
    unsigned int row = MatchSubType(table, block->GetSubTypeString());
    if (row == 0)
    {
        block->SetContentType(CMIMEPart::CONTENT_APPLICATION);
        block->SetSubTypeIndex(1);
        return unpacker.ExtractApplication(block, line, source);
    }
    block->SetSubTypeIndex(row);
    _CME_RC rc = unpacker.ParseCharsetParameter(block, line, source);
    if (rc != CME_SUCCESS || block->GetContentType() == CMIMEPart::CONTENT_APPLICATION)
        return rc;
    return unpacker.DecodeBody(block, line, source);
}

} // namespace

_CME_RC CUnpacker::ExtractImage(COutputBlock* block, char** line, CStdioFile* source)
{
    return ExtractMedia(*this, szImageSubType, block, line, source);
}

_CME_RC CUnpacker::ExtractAudio(COutputBlock* block, char** line, CStdioFile* source)
{
    return ExtractMedia(*this, szAudioSubType, block, line, source);
}

_CME_RC CUnpacker::ExtractVideo(COutputBlock* block, char** line, CStdioFile* source)
{
    return ExtractMedia(*this, szVideoSubType, block, line, source);
}

// Application data: the first "name=" parameter names the part when nothing else has,
// with encoded words decoded; an unset subtype index is taken from the subtype.
_CME_RC CUnpacker::ExtractApplication(COutputBlock* block, char** line, CStdioFile* source)
{
    std::unique_ptr<CStringList> options(m_ParseUtilities.ExtractOptions(CString(block->GetParameters()), TRUE));
    if (options != nullptr)
    {
        for (POSITION pos = options->GetHeadPosition(); pos != nullptr;)
        {
            const CString& option = options->GetNext(pos);
            if (block->GetSuggestName()[0] != '\0')
                break;
            if (_strnicmp(option, "NAME=", 5) != 0)
                continue;
            CString value;
            m_ParseUtilities.ExtractStringOrQuotedString(option, 5, value);
            bodycodecs::SetNameFromParameter(value, block);
        }
        options->RemoveAll();
    }
    if (block->GetSubTypeIndex() == 0)
    {
        unsigned int row = MatchSubType(szApplicationSubType, block->GetSubTypeString());
        block->SetSubTypeIndex(row != 0 ? row : 1);
    }
    return DecodeBody(block, line, source);
}
