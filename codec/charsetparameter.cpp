// The charset step of text and media parts: "charset=" and "name=" parameters.
#include "codec/charset.h"
#include "extract/bodycodecs.h"
#include "mimeengine/unpack/unpacker.h"
#include "platform/win32.h"

#include <memory>

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
